# Installation and Debian packaging for scorix.
#
# Include at the end of the top-level CMakeLists.txt, after the executable
# targets "scorix" and "scorix-fit" are defined:
#
#   include(packaging.cmake)
#
# Install:  cmake --install <build> --prefix <prefix>
# Package:  cd <build> && cpack -G DEB
# The .deb needs dpkg-dev (dpkg-shlibdeps computes its Depends line).

include(GNUInstallDirs)

set(SCORIX_DOC_EXAMPLES_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/scorix/examples")

install(TARGETS scorix scorix-fit RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/doc/scorix.1" "${CMAKE_CURRENT_SOURCE_DIR}/doc/scorix-fit.1"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/completion/scorix" "${CMAKE_CURRENT_SOURCE_DIR}/completion/scorix-fit"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions")
install(FILES
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/attitude.dat"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/bfi.scales"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/iris.dat"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/iris.fsc"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/README.md"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/plot_scores.gp"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/plot_scree.gp"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/scorix_array.sbatch"
          "${CMAKE_CURRENT_SOURCE_DIR}/examples/scorix_fit_array.sbatch"
        DESTINATION "${SCORIX_DOC_EXAMPLES_DIR}")

# --- Debian package ---------------------------------------------------------

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "scorix")
# The version is the one of project() in CMakeLists.txt.
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
set(CPACK_PACKAGE_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
set(CPACK_PACKAGE_VERSION_PATCH "${PROJECT_VERSION_PATCH}")
set(CPACK_PACKAGE_CONTACT "Scorix developers <maintainers@users.noreply.c-seed-7d2374bc.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "batch tool that turns tables of variables into factor scores and back")
# The summary above is the first line of the Debian description; CPack
# indents these lines and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Scorix reads a coefficient file holding the standard deviations, the means
and a square matrix of factor score coefficients of N variables, and one or
more text tables of observations. It standardizes every row, multiplies it
by the matrix and writes the first scores to a .sco file. With -i it
inverts the matrix and maps score files back to the units of the variables.
Its companion scorix-fit makes the coefficient file from data: principal
components of the correlation or covariance matrix, or varimax factors.

The package holds both programs, their manual pages, bash completions and an
example made from Fisher's iris measurements.")
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# Runtime dependencies (libc, libstdc++, libisal2 (zlib1g in a build without
# ISA-L), libzstd1 and libarchive13 for compressed data files, liblapack3 and
# liblbfgsb0 for scorix-fit) are found by dpkg-shlibdeps, from the dpkg-dev
# package, which must be installed where cpack runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completion it installs takes effect with the bash-completion package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")

find_program(SCORIX_DPKG dpkg)
if(SCORIX_DPKG)
  execute_process(COMMAND "${SCORIX_DPKG}" --print-architecture
                  OUTPUT_VARIABLE SCORIX_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE SCORIX_DPKG_RESULT)
  if(SCORIX_DPKG_RESULT EQUAL 0 AND SCORIX_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${SCORIX_DEB_ARCH}")
  endif()
endif()

include(CPack)
