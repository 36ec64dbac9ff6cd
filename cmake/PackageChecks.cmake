# Checks of the package as it will be installed, run with the tests: the versions
# find_package(QZEnhanced) accepts, and no source or build folder named in the library.

function(qz_package_checks_add)
  if(NOT QZ_BUILD_TESTS)
    return()
  endif()
  add_test(NAME PackageVersionCompatibility
    COMMAND ${CMAKE_COMMAND} -DVERSION_FILE=${CMAKE_BINARY_DIR}/QZEnhancedConfigVersion.cmake
      -DPACKAGE_VERSION_UNDER_TEST=${PROJECT_VERSION}
      -P ${CMAKE_SOURCE_DIR}/cmake/checks/PackageVersion.cmake)
  add_test(NAME LibraryNamesNoBuildFolder
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:qzenhanced>
      "-DFOLDERS=${CMAKE_SOURCE_DIR}\\;${CMAKE_BINARY_DIR}"
      -P ${CMAKE_SOURCE_DIR}/cmake/checks/NoBuildFolder.cmake)
endfunction()
cmake_language(DEFER CALL qz_package_checks_add)
