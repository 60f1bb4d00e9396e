// The product's printer driver "Morvalente printer": installing it from the
// installer's directory and removing it with its files.
#pragma once

#include "app/context.h"
#include "spool/spooler_lists.h"

// The maker's name and web address as registered with the driver.
#define DRIVER_MAKER W("Garrowe Software Kft.")
#define DRIVER_MAKER_URL W("http://www.garrowe-software.example/morvalente")

// Copies the driver, configuration and help files into the driver
// directory, registers the driver (level 6, the spooler keeps its own copies
// of the files) and deletes the copies placed (or remembers them while they
// are in use). A failed driver or configuration copy ends the step (the copy
// reported it); a failed help copy registers the driver without a help file.
// Error 13 when the spooler refuses the driver.
void AddPrinterDriver(InstallContext *ctx);

// Lists `drivers` (taken at the start of the uninstall) in the log, and
// removes the product's driver with its files when it is there, once more
// after a spooler restart when the spooler refuses; error 14 when it refuses
// again. When `drivers` holds no record at all, the drivers are listed once
// more (the first enumeration may have failed) and that list is searched.
void DeletePrinterDriver(InstallContext *ctx, const DriverList *drivers);
