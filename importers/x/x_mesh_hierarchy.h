#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "importers/x/x_hierarchy.h"
#include "importers/x/x_texture.h"

// The importer's allocation callbacks for the .X frame hierarchy: they copy
// what the conversion needs (names, the mesh, its adjacency and skin
// information) and check every texture the materials name.

namespace fyrel {

inline constexpr const char* kXTextureFailedMessage = "Failed to load texture";

// A texture a material names, checked to be an image. Only its size is kept.
struct XTexture {
    std::string path;
    TextureInfo info;
};

// A mesh container with the copies of its materials' colours and their
// textures (null where a material names no texture or one that does not
// exist), both NumMaterials long when NumMaterials is above 0.
struct XImportMeshContainer : XMeshContainer {
    std::unique_ptr<std::shared_ptr<const XTexture>[]> textures;
    std::unique_ptr<XMaterial9[]> materials;
};

class XImportAllocator : public XHierarchyAllocator {
public:
    // Relative texture names are looked up in modelFolder first (see
    // findTextureFile).
    explicit XImportAllocator(std::string modelFolder) : modelFolder_(std::move(modelFolder)) {}

    // A frame with the identity transform, its name copied when given.
    XFrame* CreateFrame(const char* name) override;

    // Copies the name, the adjacency (three entries per face), the mesh
    // reference, the material colours and the skin reference. A material's
    // texture file that exists must be an image: otherwise the reason goes to
    // the debug output and ImportError(kXTextureFailedMessage) is thrown. A
    // texture file that does not exist is skipped silently. Each file is
    // checked once per hierarchy.
    XMeshContainer* CreateMeshContainer(const char* name, const XMeshData& meshData, const XMaterial* materials,
                                        std::uint32_t numMaterials, const std::uint32_t* adjacency,
                                        const std::shared_ptr<const XSkinInfo>& skinInfo) override;

    void DestroyFrame(XFrame* frame) override;
    void DestroyMeshContainer(XMeshContainer* container) override;

private:
    std::shared_ptr<const XTexture> loadTexture(const std::string& textureName);

    std::string modelFolder_;
    std::map<std::string, std::shared_ptr<const XTexture>> checked_;
};

}  // namespace fyrel
