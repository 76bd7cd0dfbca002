# fyrel_ozz_peer(NAME FLAGS): builds ozz-animation's runtime and offline libraries from
# FYREL_OZZ_SOURCE with FLAGS added to its own (Release), and makes NAME a library of
# ozz_peer.cpp (compiled with the same FLAGS, since ozz's vector math is inline in its
# headers) that links them. The peer is built by its own CMake (ExternalProject),
# so its options and warnings stay its own and two builds with different flags live side by side.
include(ExternalProject)

function(fyrel_ozz_peer name flags)
  set(binary ${CMAKE_CURRENT_BINARY_DIR}/${name})
  if(FYREL_OZZ_SOURCE MATCHES "\\.(tar\\.gz|tgz)$")
    set(source_args URL ${FYREL_OZZ_SOURCE})
    set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}-src)
    list(APPEND source_args SOURCE_DIR ${source})
  else()
    set(source ${FYREL_OZZ_SOURCE})
    set(source_args SOURCE_DIR ${source})
  endif()
  set(libs ${binary}/src/animation/offline/libozz_animation_offline.a
           ${binary}/src/animation/runtime/libozz_animation.a
           ${binary}/src/geometry/runtime/libozz_geometry.a
           ${binary}/src/base/libozz_base.a)
  ExternalProject_Add(${name}_build
    ${source_args}
    BINARY_DIR ${binary}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=${flags}
               -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
               -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
               -Dozz_build_samples=OFF -Dozz_build_howtos=OFF -Dozz_build_tests=OFF
               -Dozz_build_tools=OFF -Dozz_build_fbx=OFF -Dozz_build_gltf=OFF
               -Dozz_build_data=OFF -Dozz_build_postfix=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build . --target ozz_animation_offline ozz_animation ozz_geometry ozz_base
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${libs})
  # The sources are unpacked when the peer builds; the include folder must exist at configure time.
  file(MAKE_DIRECTORY ${source}/include)
  add_library(${name} STATIC ${CMAKE_CURRENT_SOURCE_DIR}/ozz_peer.cpp)
  add_dependencies(${name} ${name}_build)
  separate_arguments(peer_flags UNIX_COMMAND "${flags}")
  target_compile_options(${name} PRIVATE ${peer_flags})
  target_include_directories(${name} SYSTEM PRIVATE ${source}/include)
  target_link_libraries(${name} PUBLIC fyrel_core ${libs})
endfunction()
