# Installation and the Debian package. Layout (GNUInstallDirs):
#   bin/facelume, bin/facelume-cli
#   lib/<arch>/libfacelume_client.so.<major>, lib/<arch>/facelume/libmox_ai_effect.so (the engine)
#   include/facelume/                 the client SDK's public headers
#   share/facelume/beauty_res/        the engine's resources (the model is a link to libdlib-data's)
#   lib/<arch>/cmake/facelume/        find_package(facelume) -> facelume::client
#   lib/<arch>/pkgconfig/facelume.pc
include(CMakePackageConfigHelpers)

install(DIRECTORY ${FACELUME_OUTPUT_DIR}/beauty_res/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/facelume/beauty_res)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/facelume)
install(EXPORT facelumeTargets NAMESPACE facelume:: DESTINATION ${config_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/facelumeConfig.cmake.in
    ${CMAKE_BINARY_DIR}/facelumeConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/facelumeConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/facelumeConfig.cmake ${CMAKE_BINARY_DIR}/facelumeConfigVersion.cmake
    DESTINATION ${config_dir})

file(RELATIVE_PATH pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/facelume.pc.in ${CMAKE_BINARY_DIR}/facelume.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/facelume.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cpack -G DEB in the build folder makes facelume_<version>_<arch>.deb; its dependencies are the
# Debian runtime packages of the libraries it links (dpkg-shlibdeps) and the landmark model.
set(CPACK_PACKAGE_NAME facelume)
set(CPACK_PACKAGE_VENDOR "facelume")
set(CPACK_PACKAGE_CONTACT "facelume developers <facelume@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "face-beautification service for desktop video apps")
set(CPACK_PACKAGE_INSTALL_DIRECTORY facelume)
set(CPACK_GENERATOR DEB)
# The package installs where the build's paths point (CI configures with CMAKE_INSTALL_PREFIX=/usr).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/facelume-${PROJECT_VERSION}-Linux/usr/${CMAKE_INSTALL_LIBDIR}/facelume)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libdlib-data")
include(CPack)
