# The cloud benchmarks serve HTTP on the loopback interface with cpp-httplib.
function(qz_cloud_link_bench)
  if(TARGET qz_bench)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(QZ_CLOUD_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    target_link_libraries(qz_bench PRIVATE PkgConfig::QZ_CLOUD_HTTPLIB)
  endif()
endfunction()
cmake_language(DEFER CALL qz_cloud_link_bench)
