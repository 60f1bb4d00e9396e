# Windows build: install.exe against the real system DLLs.
# winspool.drv exports the get/set-default-printer calls by ordinal only; an
# import library made from a .def file binds them by number.
find_program(MRV_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool x86_64-w64-mingw32-dlltool dlltool REQUIRED)
set(MRV_ORD_LIB ${CMAKE_BINARY_DIR}/libwinspool_ordinals.a)
add_custom_command(OUTPUT ${MRV_ORD_LIB}
  COMMAND ${MRV_DLLTOOL} -d ${CMAKE_SOURCE_DIR}/src/platform/winspool_ordinals.def -l ${MRV_ORD_LIB}
  DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/winspool_ordinals.def)
add_custom_target(winspool_ordinals DEPENDS ${MRV_ORD_LIB})

file(GLOB MRV_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/app/resources/*.rc)

# CMake keeps the target name "install" for itself; the program is still install.exe.
add_executable(mrv_install WIN32 ${MRV_SOURCES} ${CMAKE_SOURCE_DIR}/src/app/main.cpp ${MRV_RESOURCES})
set_target_properties(mrv_install PROPERTIES OUTPUT_NAME install)
add_dependencies(mrv_install winspool_ordinals)
target_include_directories(mrv_install PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
target_compile_definitions(mrv_install PRIVATE UNICODE _UNICODE)
target_link_options(mrv_install PRIVATE -municode -static -static-libgcc -static-libstdc++)
target_link_libraries(mrv_install PRIVATE ${MRV_ORD_LIB} winspool advapi32 user32 version shell32 kernel32)

if(EXISTS ${CMAKE_SOURCE_DIR}/product/CMakeLists.txt)
  add_subdirectory(product)
endif()
