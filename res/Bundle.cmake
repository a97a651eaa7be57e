# norv_resource_bundle(OUT_VAR NAME <name> [STARTUP_URI <text>] [CAPTION <text>]
#                      [TRUSTED_ORIGINS <list>]):
# generates the GResource bundle of a program (string table, version, icon 128 and the
# HTML resources) and puts the path of its C source into OUT_VAR. Add that source to the
# executable itself: the bundle registers itself when the program starts, and each
# executable can carry its own string table.
#
# Entries: /norv/strings/<id> (132 the startup address, 133 the caption; an empty value
# leaves the entry out), /norv/trusted-origins (the origins trusted besides the startup
# address's, blank separated; left out when there are none), /norv/version (four dotted numbers), /norv/icons/128 (PNG) and
# /norv/html/<NAME> (the HTML resources, names in upper case).
set(NORV_RES_DIR ${CMAKE_CURRENT_LIST_DIR})

# Writes a file only when its content changes, so that configuring again rebuilds nothing.
function(norv_write_if_changed path content)
    if(EXISTS ${path})
        file(READ ${path} old)
        if(old STREQUAL content)
            return()
        endif()
    endif()
    file(WRITE ${path} "${content}")
endfunction()

function(norv_resource_bundle out_var)
    cmake_parse_arguments(B "" "NAME;STARTUP_URI;CAPTION" "TRUSTED_ORIGINS" ${ARGN})
    find_program(NORV_GLIB_COMPILE_RESOURCES glib-compile-resources REQUIRED)
    set(gen ${CMAKE_CURRENT_BINARY_DIR}/${B_NAME})
    # Every file of the bundle is a dependency of its source: a configuration that changes
    # only the text of an entry (another startup address, say) rewrites that entry's file
    # and nothing else, and the next build must still pick it up.
    set(entries "")
    set(depends "")
    if(NOT "${B_STARTUP_URI}" STREQUAL "")
        norv_write_if_changed(${gen}/strings/132 "${B_STARTUP_URI}")
        string(APPEND entries "    <file alias=\"strings/132\">${gen}/strings/132</file>\n")
        list(APPEND depends ${gen}/strings/132)
    endif()
    if(NOT "${B_CAPTION}" STREQUAL "")
        norv_write_if_changed(${gen}/strings/133 "${B_CAPTION}")
        string(APPEND entries "    <file alias=\"strings/133\">${gen}/strings/133</file>\n")
        list(APPEND depends ${gen}/strings/133)
    endif()
    if(B_TRUSTED_ORIGINS)
        list(JOIN B_TRUSTED_ORIGINS " " origins)
        norv_write_if_changed(${gen}/trusted-origins "${origins}")
        string(APPEND entries
               "    <file alias=\"trusted-origins\">${gen}/trusted-origins</file>\n")
        list(APPEND depends ${gen}/trusted-origins)
    elseif(EXISTS ${gen}/trusted-origins)
        file(REMOVE ${gen}/trusted-origins)
    endif()
    norv_write_if_changed(${gen}/version "${PROJECT_VERSION}")
    string(APPEND entries "    <file alias=\"version\">${gen}/version</file>\n")
    string(APPEND entries "    <file alias=\"icons/128\">${NORV_RES_DIR}/icons/ICON128.PNG</file>\n")
    file(GLOB html CONFIGURE_DEPENDS ${NORV_RES_DIR}/html/*)
    list(APPEND depends ${NORV_RES_DIR}/icons/ICON128.PNG ${gen}/version)
    foreach(file IN LISTS html)
        get_filename_component(name ${file} NAME)
        string(TOUPPER ${name} upper)
        string(APPEND entries "    <file alias=\"html/${upper}\">${file}</file>\n")
        list(APPEND depends ${file})
    endforeach()
    norv_write_if_changed(${gen}/bundle.gresource.xml
"<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<gresources>
  <gresource prefix=\"/norv\">
${entries}  </gresource>
</gresources>
")
    set(source ${gen}/bundle.c)
    add_custom_command(
        OUTPUT ${source}
        COMMAND ${NORV_GLIB_COMPILE_RESOURCES} --generate-source --target=${source}
                --c-name=norv_bundle_${B_NAME} ${gen}/bundle.gresource.xml
        DEPENDS ${gen}/bundle.gresource.xml ${depends}
        COMMENT "Resource bundle ${B_NAME}")
    # Generated code: not held to the warning rules of our own sources.
    set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "-w")
    set(${out_var} ${source} PARENT_SCOPE)
endfunction()
