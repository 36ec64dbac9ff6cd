# Which requested versions the package's version file accepts:
#   cmake -DVERSION_FILE=<build>/QZEnhancedConfigVersion.cmake -P PackageVersion.cmake
# The package is 1.6.x: a request for any 1.y not newer than it is met, another major is not.

string(REGEX MATCH "^[0-9]+\\.[0-9]+" series "${PACKAGE_VERSION_UNDER_TEST}")
set(cases
  "1:TRUE" "1.0:TRUE" "1.5:TRUE" "1.6:TRUE" "1.6.0:TRUE" "${PACKAGE_VERSION_UNDER_TEST}:TRUE"
  "1.7:FALSE" "1.99:FALSE" "2:FALSE" "2.0:FALSE" "0.9:FALSE")
set(failures 0)
foreach(case ${cases})
  string(REPLACE ":" ";" parts "${case}")
  list(GET parts 0 wanted)
  list(GET parts 1 expected)
  unset(PACKAGE_VERSION_COMPATIBLE)
  set(PACKAGE_FIND_VERSION "${wanted}")
  string(REPLACE "." ";" numbers "${wanted}")
  list(GET numbers 0 PACKAGE_FIND_VERSION_MAJOR)
  include("${VERSION_FILE}")
  if(NOT "${PACKAGE_VERSION_COMPATIBLE}" STREQUAL "${expected}")
    message(SEND_ERROR "find_package(QZEnhanced ${wanted}): compatible ${PACKAGE_VERSION_COMPATIBLE}, expected ${expected}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures EQUAL 0)
  message(STATUS "every request of the same major version up to ${PACKAGE_VERSION} is accepted")
endif()
