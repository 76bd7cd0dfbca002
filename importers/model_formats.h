#pragma once

#include <string>

#include "scene/model.h"

// Picks the importer for a model file by the ending of its name, compared
// without regard to case (".ms3d", ".3ds", ".x"): one table in
// import_any.cpp, one line per importer.

namespace fyrel {

// Imports the file with the importer its extension selects. Throws
// ImportError for a name whose ending no importer claims (the message lists
// the endings that are supported), and passes on whatever the importer throws.
Model importModelFile(const std::string& path);

// The short name of the format the path's ending selects ("MS3D"), or an
// empty string when no importer claims it.
std::string modelFormatName(const std::string& path);

}  // namespace fyrel
