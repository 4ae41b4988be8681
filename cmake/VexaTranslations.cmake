# The Japanese translation is kept as one .ts file per subsystem (translations/<sub>_ja_JP.ts)
# so that each subsystem's texts can be maintained on their own; lrelease merges them into
# the single Vexa2_ja_JP.qm that the program embeds at the root of its resources.
file(GLOB VEXA_TS_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/translations/*_ja_JP.ts)
set(VEXA_QM_DIR ${CMAKE_BINARY_DIR}/i18n)
set(VEXA_QM_FILE ${VEXA_QM_DIR}/Vexa2_ja_JP.qm)

add_custom_command(
    OUTPUT ${VEXA_QM_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VEXA_QM_DIR}
    COMMAND Qt6::lrelease -silent ${VEXA_TS_FILES} -qm ${VEXA_QM_FILE}
    DEPENDS ${VEXA_TS_FILES}
    COMMENT "Compiling the Japanese translation"
    VERBATIM)
add_custom_target(vexa_qm DEPENDS ${VEXA_QM_FILE})

# vexa_embed_translation(<target>): puts Vexa2_ja_JP.qm, uncompressed, at ":/Vexa2_ja_JP.qm".
function(vexa_embed_translation TARGET)
    add_dependencies(${TARGET} vexa_qm)
    set_source_files_properties(${VEXA_QM_FILE} PROPERTIES GENERATED TRUE)
    qt_add_resources(${TARGET} "vexa2_i18n_${TARGET}"
        PREFIX "/"
        BASE ${VEXA_QM_DIR}
        FILES ${VEXA_QM_FILE}
        OPTIONS -no-compress)
endfunction()
