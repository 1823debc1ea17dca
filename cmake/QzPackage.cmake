# How the installed files become qzmonitor_<version>_<arch>.deb.
set(QZ_PACKAGE_MAINTAINER "qzmonitor developers <maintainers@qzmonitor.org>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")
set(QZ_HOMEPAGE_URL "https://qzmonitor.org" CACHE STRING "The project's home page")

# The changelog wants the release day in the mail-date form.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -R -d "${QZ_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE QZ_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE date_rc)
if(NOT date_rc EQUAL 0)
  message(FATAL_ERROR "QZ_RELEASE_DATE is not a date: ${QZ_RELEASE_DATE}")
endif()

set(CPACK_PACKAGE_NAME qzmonitor)
set(CPACK_PACKAGE_VENDOR "VQ")
set(CPACK_PACKAGE_CONTACT "${QZ_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor of three-phase power-quality meters")
# Lines of the extended description stay under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "The monitor polls a QZ2-family power-quality meter over RS-232, a modem,
an optical probe or TCP/IP and shows its voltages, currents, angles,
symmetrical components, powers, frequency and harmonics, coloured against
the meter's limits; it draws oscillograms and saves what it shows to CSV.
The window and its messages are in Russian.
.
The package also holds qzcli (the same polling without a window), qzsim
(a meter simulator) and libchanparam, a small C library of named
parameters and channel records.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QZ_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QZ_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's standard dialogs and buttons in Russian.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
# libchanparam: a shlibs file for packages that link it, and dpkg's ldconfig trigger instead
# of maintainer scripts (the scripts cpack would write call ldconfig themselves).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(QZ_PACKAGE_CONTROL ${CMAKE_BINARY_DIR}/package-control)
file(MAKE_DIRECTORY ${QZ_PACKAGE_CONTROL})
file(WRITE ${QZ_PACKAGE_CONTROL}/triggers "activate-noawait ldconfig\n")
# chanparam/ writes the shlibs file, since it knows the library's interface version.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QZ_PACKAGE_CONTROL}/triggers ${QZ_PACKAGE_CONTROL}/shlibs)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/QzDebNoScripts.cmake)

include(CPack)
