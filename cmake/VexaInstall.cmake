# What `cmake --install` and the Debian package put where: the programs, the Python module
# (python/CMakeLists.txt), the Slurm scripts, the desktop entry and the manual pages.
include(GNUInstallDirs)

install(TARGETS vexa2 vexa2-recon vexa2-phantom vexa2-spectra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The Slurm scripts stay together (submit-series finds its job script beside itself) and are
# reached from the PATH through a link; installed, they run the installed vexa2-recon.
set(VEXA_SLURM_DIR ${CMAKE_INSTALL_DATADIR}/vexa2/slurm)
install(PROGRAMS scripts/slurm/submit-series scripts/slurm/vexa2-series.sbatch
    DESTINATION ${VEXA_SLURM_DIR})
install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${bin}\")
    file(CREATE_LINK ../${VEXA_SLURM_DIR}/submit-series \"\${bin}/vexa2-submit-series\" SYMBOLIC)
    message(STATUS \"Installing: \${bin}/vexa2-submit-series -> ../${VEXA_SLURM_DIR}/submit-series\")
")

install(FILES packaging/vexa2.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Debian names the folder after the package.
set(VEXA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vexa2)
install(FILES README.md DESTINATION ${VEXA_DOC_DIR})
install(DIRECTORY examples/ DESTINATION ${VEXA_DOC_DIR}/examples)

# Manual pages from each program's --help (not from sanitized builds, whose programs may
# report on exit).
if(NOT VEXA_SANITIZE)
set(manPages)
foreach(entry
        "vexa2|X-ray CT and CT-XAFS reconstruction in a window or from batch files"
        "vexa2-recon|reconstruct CT slices and CT-XAFS series without a window"
        "vexa2-phantom|write sample CT and CT-XAFS projection data"
        "vexa2-spectra|spectral stacks of CT-XAFS series and their maps")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
            -DVERSION=${PROJECT_VERSION} "-DSUMMARY=${summary}" -DOUT=${page}
            -P ${PROJECT_SOURCE_DIR}/cmake/VexaManPage.cmake
        DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/VexaManPage.cmake
        COMMENT "Manual page ${program}.1")
    list(APPEND manPages ${page})
endforeach()
add_custom_target(vexa_man_pages ALL DEPENDS ${manPages})
install(FILES ${manPages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package: `cpack` in the build folder makes vexa2_<version>_<arch>.deb. The shared
# libraries' packages are found by dpkg-shlibdeps; the rest is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexa2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vexa2")
set(CPACK_PACKAGE_CONTACT "Vexa2 developers <vexa2@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "X-ray CT and CT-XAFS reconstruction for synchrotron beamlines")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns series of projection images into reconstructed slices, in one window or from batch\n\
files; vexa2-recon reconstructs slice ranges and CT-XAFS series without a window (also on a\n\
Slurm cluster), and the vexa2 Python module reconstructs NumPy arrays in TomoPy's order.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's platform plugin (xcb), and the interpreter and numpy of the Python module.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, python3, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "slurm-client")
include(CPack)
