#include "importers/x/x_mesh_hierarchy.h"

#include <algorithm>
#include <cstring>

#include "images/texture_image.h"

namespace fyrel {

namespace {

std::unique_ptr<char[]> copyName(const char* name)
{
    if (!name || !*name) {
        return nullptr;
    }
    std::size_t length = std::strlen(name);
    auto copy = std::make_unique<char[]>(length + 1);
    std::memcpy(copy.get(), name, length + 1);
    return copy;
}

}  // namespace

XFrame* XImportAllocator::CreateFrame(const char* name)
{
    auto frame = std::make_unique<XFrame>();
    frame->Name = copyName(name);
    return frame.release();
}

XMeshContainer* XImportAllocator::CreateMeshContainer(const char* name, const XMeshData& meshData,
                                                   const XMaterial* materials, std::uint32_t numMaterials,
                                                   const std::uint32_t* adjacency,
                                                   const std::shared_ptr<const XSkinInfo>& skinInfo)
{
    auto container = std::make_unique<XImportMeshContainer>();
    container->Name = copyName(name);

    std::size_t adjacencyEntries = std::size_t{3} * meshData.pMesh->GetNumFaces();
    container->pAdjacency = std::make_unique<std::uint32_t[]>(adjacencyEntries);
    if (adjacencyEntries > 0) {
        std::copy(adjacency, adjacency + adjacencyEntries, container->pAdjacency.get());
    }
    container->MeshData = meshData;

    container->NumMaterials = numMaterials;
    if (numMaterials > 0 && materials) {
        container->materials = std::make_unique<XMaterial9[]>(numMaterials);
        container->textures = std::make_unique<std::shared_ptr<const XTexture>[]>(numMaterials);
        container->materialNames.reserve(numMaterials);  // exactly: the reader's budget counts one name a material
        for (std::uint32_t i = 0; i < numMaterials; ++i) {
            container->materials[i] = materials[i].MatD3D;
            container->materialNames.push_back(materials[i].name);
            if (!materials[i].textureFile.empty()) {
                container->textures[i] = loadTexture(materials[i].textureFile);
            }
        }
    }
    container->pSkinInfo = skinInfo;
    return container.release();
}

std::shared_ptr<const XTexture> XImportAllocator::loadTexture(const std::string& textureName)
{
    if (auto it = found_.find(textureName); it != found_.end()) {
        return it->second;
    }
    auto texture = std::make_shared<XTexture>();
    texture->name = textureName;
    texture->path = findTextureFile(textureName, modelFolder_);
    found_.emplace(textureName, texture);
    return texture;
}

void XImportAllocator::DestroyFrame(XFrame* frame)
{
    delete frame;
}

void XImportAllocator::DestroyMeshContainer(XMeshContainer* container)
{
    delete static_cast<XImportMeshContainer*>(container);
}

}  // namespace fyrel
