# The installable package: `cmake --install <build> --prefix <prefix>` puts
#   <prefix>/lib/libqzenhanced.*                           the library
#   <prefix>/include/QZEnhanced/QZEnhanced.hpp             the umbrella header
#                                                          (<QZEnhanced/QZEnhanced.hpp>)
#   <prefix>/include/QZEnhanced/{api,lib,platform,...}     its headers ("api/Gateway/Gateway.hpp")
#   <prefix>/share/QZEnhanced/resources/                   the encrypted resource folder
#   <prefix>/lib/cmake/QZEnhanced/                         find_package(QZEnhanced) ->
#                                                          QZEnhanced::qzenhanced
#   <prefix>/lib/pkgconfig/qzenhanced.pc                   pkg-config qzenhanced
# The library finds the resource folder relative to itself (Bundle::library()).

include(CMakePackageConfigHelpers)

set(QZ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QZEnhanced)

# The packages the installed target needs, as find_package arguments. The package config
# finds them for the user; keep them in step with the library's PUBLIC links.
set(QZ_PACKAGE_DEPENDENCIES
  "Threads"
  "OpenSSL"
  "ZLIB"
  "EXPAT"
  "nlohmann_json 3"
  "ICU COMPONENTS uc i18n"
  "CURL"
  "SQLite3"
  "LibXml2")
# The same for pkg-config: what the headers need, and what the library links.
set(QZ_PKGCONFIG_REQUIRES "nlohmann_json")
set(QZ_PKGCONFIG_REQUIRES_PRIVATE "libcrypto zlib expat icu-uc icu-i18n libcurl sqlite3 libxml-2.0")

set(QZ_FIND_DEPENDENCIES "")
foreach(dependency ${QZ_PACKAGE_DEPENDENCIES})
  string(APPEND QZ_FIND_DEPENDENCIES "find_dependency(${dependency})\n")
endforeach()

install(TARGETS qzenhanced EXPORT QZEnhancedTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QZEnhanced
  FILES_MATCHING PATTERN "*.hpp" PATTERN "*.inc")
install(FILES ${CMAKE_SOURCE_DIR}/include/QZEnhanced/QZEnhanced.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QZEnhanced)
install(DIRECTORY ${CMAKE_BINARY_DIR}/resources/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/QZEnhanced/resources)
install(EXPORT QZEnhancedTargets NAMESPACE QZEnhanced:: DESTINATION ${QZ_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QZEnhancedConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QZEnhancedConfig.cmake INSTALL_DESTINATION ${QZ_INSTALL_CMAKEDIR})
# find_package(QZEnhanced 1.x) accepts every 1.y.z that is not older than the version asked for.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QZEnhancedConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QZEnhancedConfig.cmake
  ${CMAKE_BINARY_DIR}/QZEnhancedConfigVersion.cmake DESTINATION ${QZ_INSTALL_CMAKEDIR})

# pkg-config paths relative to the .pc file, so the tree can be installed anywhere.
file(RELATIVE_PATH QZ_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" QZ_PC_TO_PREFIX "${QZ_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qzenhanced.pc.in ${CMAKE_BINARY_DIR}/qzenhanced.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qzenhanced.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
