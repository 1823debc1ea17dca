# Run by cpack after it made the .deb (CPACK_POST_BUILD_SCRIPTS). cpack adds postinst and
# postrm scripts that only call ldconfig whenever a package holds a shared library; the
# package's ldconfig trigger already does that, so the scripts are taken out and the package
# is rebuilt without them: installing and removing it then runs nothing of ours.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} -R ${deb} ${tree} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb could not unpack ${deb}")
  endif()
  foreach(script postinst postrm)
    set(file ${tree}/DEBIAN/${script})
    if(EXISTS ${file})
      file(READ ${file} text)
      # Anything beyond the ldconfig call is a script someone meant to have: keep it.
      string(REGEX REPLACE "#![^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n\tldconfig\nfi\n|\n" "" rest "${text}")
      if(rest STREQUAL "")
        file(REMOVE ${file})
      endif()
    endif()
  endforeach()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zgzip --build ${tree} ${deb}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  file(REMOVE_RECURSE ${tree})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb could not rebuild ${deb}")
  endif()
endforeach()
