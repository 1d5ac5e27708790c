# Packs a built tree into a Debian package with CPack (see "make deb" in
# CMakeLists.txt for what goes in):
#
#   cmake -DBUILD=build [-DOUT=folder] -P tools/deb.cmake
#
# The package lands in OUT (default BUILD). CPack installs the tree into a
# staging folder, and every install rewrites BUILD/install_manifest.txt; that
# file is the record of what `make install` wrote, which `make uninstall`
# reads, so it is put back as it was: a package built after an install must
# not make the uninstall remove the package's /usr files instead.
if(NOT BUILD)
  message(FATAL_ERROR "usage: cmake -DBUILD=build [-DOUT=folder] -P tools/deb.cmake")
endif()
get_filename_component(BUILD "${BUILD}" ABSOLUTE)
if(NOT OUT)
  set(OUT "${BUILD}")
endif()
set(manifest "${BUILD}/install_manifest.txt")
set(saved "${BUILD}/install_manifest.txt.kept")
file(REMOVE "${saved}")
if(EXISTS "${manifest}")
  file(RENAME "${manifest}" "${saved}")
endif()
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config "${BUILD}/CPackConfig.cmake" -B "${OUT}"
                WORKING_DIRECTORY "${BUILD}" RESULT_VARIABLE failed)
file(REMOVE "${manifest}")
if(EXISTS "${saved}")
  file(RENAME "${saved}" "${manifest}")
endif()
if(failed)
  message(FATAL_ERROR "cpack failed")
endif()
# CPack has the package run ldconfig when it holds a shared object right in
# /usr/lib/SOMETHING, as the CLAP plugin in /usr/lib/clap is; a plugin needs
# no linker cache, so the package is made again without those scripts.
file(GLOB debs "${OUT}/*.deb")
foreach(deb IN LISTS debs)
  set(tree "${OUT}/deb-tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" RESULT_VARIABLE failed)
  if(NOT failed AND EXISTS "${tree}/DEBIAN/postinst")
    file(STRINGS "${tree}/DEBIAN/postinst" lines)
    if(lines MATCHES "ldconfig")
      file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
      execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${deb}" OUTPUT_QUIET RESULT_VARIABLE failed)
    endif()
  endif()
  file(REMOVE_RECURSE "${tree}")
  if(failed)
    message(FATAL_ERROR "cannot make ${deb} again without its ldconfig scripts")
  endif()
endforeach()
