#pragma once

#include <span>
#include <string>

#include "scene/model.h"

// The one table of model file formats, one row per format: the ending of its
// file names, its importer, and how the program offers it (the file dialog's
// filter, the caption of the box that shows a failed import, a notice shown
// before the dialog). Every import, from a menu, the command line or
// fyrel-info, picks its format here. Adding a format is one row in
// model_formats.cpp plus its importer.

namespace fyrel {

struct ModelFormat {
    const char* ending = "";  // lower case, with the dot: ".ms3d"
    const char* name = "";    // the short name: "MS3D"
    Model (*import)(const std::string& path) = nullptr;  // throws ImportError
    bool animated = false;    // an added model is advanced and posed at once
    const char* filterLabel = "";     // the file dialog's filter for the ending: "MS3D File"
    const char* failureCaption = "";  // of the error box of a failed import
    const char* notice = nullptr;     // shown before the file dialog, or null
    const char* noticeCaption = nullptr;
    const char* dialogPatterns = nullptr;  // the filter's patterns when more than "*" + ending
};

// Every row, in the table's order.
std::span<const ModelFormat> modelFormats();

// The format whose ending the path's name has, compared without regard to
// case; null when no format claims it.
const ModelFormat* findModelFormat(const std::string& path);

// The sentence that refuses a path no format claims; it lists the endings
// that are supported.
std::string unsupportedEndingMessage(const std::string& path);

// Imports the file with the importer its ending selects. Throws ImportError
// (unsupportedEndingMessage) for a name whose ending no format claims, and
// passes on whatever the importer throws.
Model importModelFile(const std::string& path);

// Tells the C library to keep the large arrays an import frees for the next
// one instead of handing their pages back to the system at once. Touching a
// page for the first time is the dearest part of importing a large model (on
// the virtual machines this runs on, about 20 µs a page: three quarters of a
// 2 MB glTF file's import); kept pages cost nothing to reuse. Holds at most
// 256 MiB of freed memory. Call once at start.
void keepFreedMemoryForReuse();

// The short name of the format the path's ending selects ("MS3D"), or an
// empty string when no format claims it.
std::string modelFormatName(const std::string& path);

}  // namespace fyrel
