#include "model.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

// The supported models and the lowest firmware each one needs for its
// auto shutdown setting.
// One model a row, kept so by hand.
// clang-format off
constexpr FirmVer firmVersions[] = {
    {"Brelko M210", "01.00"},
    {"Brelko M220", "01.01"},
    {"Brelko M230", "01.00"},
    {"Brelko M240C/M248C", "01.03"},
    {"Brelko M250C", "01.00"},
    {nullptr, nullptr},
};
// clang-format on
static_assert(firmVersions[std::size(firmVersions) - 1].modelName == nullptr,
              "the model table ends with a null row");

// The model name of table row `i`; null for the end row and beyond.
const char* GetASModelName(int i)
{
    if (i < 0 || i >= static_cast<int>(std::size(firmVersions)))
        return nullptr;
    return firmVersions[i].modelName;
}

// The minimum firmware version of table row `i`; null for the end row and
// beyond.
const char* GetASFirmVersion(int i)
{
    if (i < 0 || i >= static_cast<int>(std::size(firmVersions)))
        return nullptr;
    return firmVersions[i].minFirmVersion;
}

// The minimum firmware version of `modelName`, or null for a model that is
// not supported.
const char* GetMinFirmVersion(const char* modelName)
{
    if (!modelName)
        return nullptr;
    for (int i = 0; const char* name = GetASModelName(i); ++i) {
        if (std::strcmp(name, modelName) == 0)
            return GetASFirmVersion(i);
    }
    return nullptr;
}

bool IsSupportedModel(const char* model)
{
    return GetMinFirmVersion(model) != nullptr;
}

// Frees a heap block; null is ignored.
void mem_free(void* pointer)
{
    std::free(pointer);
}
