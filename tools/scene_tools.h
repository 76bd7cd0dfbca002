#pragma once

#include <ostream>
#include <string>

// What fyrel-info and fyrel-convert do with a scene file (.fyrel): its models
// are read as the tools read model files (the importer the ending selects),
// standing on the ground as the program places them.

namespace fyrel {

// True for a name ending in .fyrel (any case).
bool isSceneName(const std::string& path);

// Prints what the scene holds: its models with their files and whether they
// load (with the reason when not), their clips, the paths with their point
// counts, the bindings, the IK controllers and the fields this version does
// not know. Returns 0 when the scene reads and every model loads, 1
// otherwise (the reason on err).
int printScene(std::ostream& out, std::ostream& err, const std::string& scene);

// Writes each model of the scene that loads, with its clips (the generated
// ones included), as binary glTF: to output for a scene of one model, to
// output's name with "-1", "-2" ... before ".glb" for several (the names
// written go to out). Returns 0 when every model was written, else 1.
int convertScene(std::ostream& out, std::ostream& err, const std::string& scene, const std::string& output);

}  // namespace fyrel
