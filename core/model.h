// The record of a discovered printer and the table of supported printer
// models: what both programs know of a printer before asking it anything.
#pragma once

// Every text field of a printer record: up to 255 bytes and a terminator.
enum { PRINTER_TEXT_SIZE = 256 };

typedef struct UIPrinterInfo {
    char printerName[PRINTER_TEXT_SIZE];
    char modelName[PRINTER_TEXT_SIZE];
    char driverVersion[PRINTER_TEXT_SIZE];
} UIPrinterInfo;

typedef struct FirmVer {
    const char* modelName;
    const char* minFirmVersion;
} FirmVer;

extern const FirmVer firmVersions[];

const char* GetASModelName(int i);
const char* GetASFirmVersion(int i);
const char* GetMinFirmVersion(const char* modelName);
// Whether `model` is one of the supported models, compared byte for byte:
// the filter of the printer list.
bool IsSupportedModel(const char* model);

void mem_free(void* pointer);
