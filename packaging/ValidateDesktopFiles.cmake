# Validates the desktop entry (desktop-file-validate) and the AppStream metainfo
# (appstreamcli validate, without the network) and fails on anything either reports: hints,
# warnings and infos included (appstreamcli's pedantic notes are style advice that the
# common reverse-DNS ids, org.example.AppName, do not follow).
#   cmake -DDESKTOP=<file.desktop> -DMETAINFO=<file.metainfo.xml> -P ValidateDesktopFiles.cmake
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate REQUIRED)
find_program(APPSTREAMCLI appstreamcli REQUIRED)

execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${DESKTOP}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT code EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate ${DESKTOP} (exit ${code}):\n${out}")
endif()

execute_process(COMMAND ${APPSTREAMCLI} validate --no-net --no-color ${METAINFO}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
# A clean file gives only the summary line.
string(REGEX REPLACE "[ \t\r\n]*(✔ )?Validation was successful[^\n]*[ \t\r\n]*" "" rest "${out}")
if(NOT code EQUAL 0 OR NOT rest STREQUAL "")
    message(FATAL_ERROR "appstreamcli validate ${METAINFO} (exit ${code}):\n${out}")
endif()
