# A built library must not name the source or build folder (std::source_location, debug
# information): it is installed elsewhere.
#   cmake -DLIBRARY=<file> -DFOLDERS=<folder>;<folder> -P NoBuildFolder.cmake

foreach(folder ${FOLDERS})
  string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" pattern "${folder}/")
  file(STRINGS "${LIBRARY}" named REGEX "${pattern}" LIMIT_COUNT 3)
  if(named)
    message(SEND_ERROR "${LIBRARY} names ${folder}: ${named}")
  endif()
endforeach()
