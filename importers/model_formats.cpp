#include "importers/import_any.h"

#include <algorithm>
#include <cctype>

#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "importers/three_ds_importer.h"
#include "importers/x_importer.h"

namespace fyrel {

namespace {

struct ModelFormat {
    const char* extension;  // lower case, with the dot
    const char* name;
    Model (*import)(const std::string& path);
};

// One line per importer.
const ModelFormat kFormats[] = {
    {".ms3d", "MS3D", &importMs3d},
    {".3ds", "3DS", &import3ds},
    {".x", "X", &importX},
};

std::string lowerExtension(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

const ModelFormat* formatOf(const std::string& path)
{
    const std::string extension = lowerExtension(path);
    for (const ModelFormat& format : kFormats) {
        if (extension == format.extension) {
            return &format;
        }
    }
    return nullptr;
}

std::string supportedEndings()
{
    std::string list;
    for (const ModelFormat& format : kFormats) {
        if (!list.empty()) {
            list += ", ";
        }
        list += format.extension;
    }
    return list;
}

}  // namespace

Model importModelFile(const std::string& path)
{
    const ModelFormat* format = formatOf(path);
    if (!format) {
        throw ImportError("Cannot import \"" + path + "\": Fyrel reads model files ending in " + supportedEndings() +
                          " only.");
    }
    return format->import(path);
}

std::string modelFormatName(const std::string& path)
{
    const ModelFormat* format = formatOf(path);
    return format ? format->name : std::string();
}

}  // namespace fyrel
