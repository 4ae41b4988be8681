# cmake -DPROGRAM=path -DNAME=name -DVERSION=x.y.z -DSUMMARY=text -DOUT=file.1 -P VexaManPage.cmake
# Writes a manual page from what PROGRAM --help prints, so that the page never lags behind the
# program's own option list.
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${PROGRAM} --help
    OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()
# The name, not the build folder's path.
string(REPLACE "${PROGRAM}" "${NAME}" help "${help}")
# roff: backslashes escaped, minus signs kept as such (options must copy and paste), and a
# line must not start with a control character.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TIMESTAMP today "%Y-%m-%d" UTC)
string(TOUPPER "${NAME}" upper)
file(WRITE ${OUT}
".TH ${upper} 1 \"${today}\" \"Vexa2 ${VERSION}\" \"User Commands\"\n"
".SH NAME\n${NAME} \\- ${SUMMARY}\n"
".SH DESCRIPTION\n.nf\n${help}.fi\n"
".SH SEE ALSO\nvexa2(1), vexa2-recon(1), vexa2-phantom(1)\n")
