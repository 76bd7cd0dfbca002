#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "importers/x/x_hierarchy.h"

// The importer's allocation callbacks for the .X frame hierarchy: they copy
// what the conversion needs (names, the mesh, its adjacency, materials and
// skin information) and look up every texture the materials name.

namespace fyrel {

// A texture a material names: the name as the file stores it, and the file
// found for it beside the model (empty when none is). Whether it is an image
// is found out where it is drawn: a texture that is not one costs its looks,
// not the model.
struct XTexture {
    std::string name;
    std::string path;
};

// A mesh container with the copies of its materials' colours and their
// textures (null where a material names no texture), both NumMaterials long
// when NumMaterials is above 0.
struct XImportMeshContainer : XMeshContainer {
    std::unique_ptr<std::shared_ptr<const XTexture>[]> textures;
    std::unique_ptr<XMaterial9[]> materials;
    std::vector<std::string> materialNames;
};

class XImportAllocator : public XHierarchyAllocator {
public:
    // Relative texture names are looked up in modelFolder first (see
    // findTextureFile).
    explicit XImportAllocator(std::string modelFolder) : modelFolder_(std::move(modelFolder)) {}

    // A frame with the identity transform, its name copied when given.
    XFrame* CreateFrame(const char* name) override;

    // Copies the name, the adjacency (three entries per face), the mesh
    // reference, the material colours and the skin reference, and looks up
    // the texture files (each name once per hierarchy).
    XMeshContainer* CreateMeshContainer(const char* name, const XMeshData& meshData, const XMaterial* materials,
                                        std::uint32_t numMaterials, const std::uint32_t* adjacency,
                                        const std::shared_ptr<const XSkinInfo>& skinInfo) override;

    void DestroyFrame(XFrame* frame) override;
    void DestroyMeshContainer(XMeshContainer* container) override;

private:
    std::shared_ptr<const XTexture> loadTexture(const std::string& textureName);

    std::string modelFolder_;
    std::map<std::string, std::shared_ptr<const XTexture>> found_;
};

}  // namespace fyrel
