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
  # g++ 12 writes UndefinedBehaviorSanitizer's source locations with the absolute paths it was
  # given, whatever -ffile-prefix-map says; such a build is never installed.
  if(QZ_SANITIZE AND NOT QZ_SANITIZE STREQUAL "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    return()
  endif()
  add_test(NAME LibraryNamesNoBuildFolder
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:qzenhanced>
      "-DFOLDERS=${CMAKE_SOURCE_DIR}\\;${CMAKE_BINARY_DIR}"
      -P ${CMAKE_SOURCE_DIR}/cmake/checks/NoBuildFolder.cmake)
endfunction()
cmake_language(DEFER CALL qz_package_checks_add)
