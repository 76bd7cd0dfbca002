#include "workbench/document.h"

#include <algorithm>
#include <filesystem>

namespace fyrel {

std::string Document::displayName() const
{
    return file.empty() ? std::string("Untitled") : std::filesystem::path(file).filename().string();
}

void Document::clear()
{
    bindings.clear();
    ikControllers.clear();
    paths.clear();
    models.clear();
    sources.clear();
    views.clear();
    transportSpeed = 1.0f;
    file.clear();
    history = History{};
    savedSerial = 0;
}

void syncSources(Document& document)
{
    document.sources.resize(std::min(document.sources.size(), document.models.size()));
    while (document.sources.size() < document.models.size()) {
        ModelSource source;
        source.id = document.nextModelId++;
        source.fileClips = document.models[document.sources.size()].animator.animations.size();
        document.sources.push_back(source);
    }
}

std::size_t indexOfModel(const Document& document, const Model* model)
{
    for (std::size_t i = 0; i < document.models.size(); ++i) {
        if (&document.models[i] == model) {
            return i;
        }
    }
    return document.models.size();
}

std::string History::undoText() const
{
    return undoSteps.empty() ? std::string("&Undo") : "&Undo " + undoSteps.back().name;
}

std::string History::redoText() const
{
    return redoSteps.empty() ? std::string("&Redo") : "&Redo " + redoSteps.back().name;
}

}  // namespace fyrel
