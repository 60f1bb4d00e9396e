# Native build: the installer's Win32 calls go to winsim.
find_package(nlohmann_json 3 REQUIRED)

file(GLOB WINSIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/winsim/*.cpp)
list(REMOVE_ITEM WINSIM_SOURCES
  ${CMAKE_SOURCE_DIR}/winsim/startup.cpp
  ${CMAKE_SOURCE_DIR}/winsim/tool.cpp)

add_library(winsim STATIC ${WINSIM_SOURCES})
target_include_directories(winsim PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(winsim PRIVATE nlohmann_json::nlohmann_json)

if(MRV_SOURCES)
  add_library(installer STATIC ${MRV_SOURCES})
  target_include_directories(installer PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
  target_link_libraries(installer PUBLIC winsim)
else()
  add_library(installer INTERFACE)
  target_include_directories(installer INTERFACE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
  target_link_libraries(installer INTERFACE winsim)
endif()

# The native install program: winsim's process start-up loads the machine,
# runs the installer's entry point and saves the machine.
if(EXISTS ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
  # CMake keeps the target name "install" for itself; the program is still install.
  add_executable(mrv_install ${CMAKE_SOURCE_DIR}/src/app/main.cpp ${CMAKE_SOURCE_DIR}/winsim/startup.cpp)
  set_target_properties(mrv_install PROPERTIES OUTPUT_NAME install)
  target_link_libraries(mrv_install PRIVATE installer)
endif()

add_executable(winsim-tool ${CMAKE_SOURCE_DIR}/winsim/tool.cpp)
set_target_properties(winsim-tool PROPERTIES OUTPUT_NAME winsim)
target_link_libraries(winsim-tool PRIVATE winsim nlohmann_json::nlohmann_json)

enable_testing()
add_subdirectory(tests)

if(MRV_BENCH AND EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
if(MRV_FUZZ AND EXISTS ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt)
  add_subdirectory(fuzz)
endif()
