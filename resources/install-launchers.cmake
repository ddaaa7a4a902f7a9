# Runs at install time, when the final prefix is known (`cmake --install --prefix` may differ from the configured
# one). Writes the desktop entry naming the installed program and links the commands on the search path to the
# executables in the program folder. Expects CORVANTA_DESKTOP_TEMPLATE, CORVANTA_PROGRAM_DIR_SETTING,
# CORVANTA_BIN_DIR_SETTING, CORVANTA_DATA_DIR_SETTING and CORVANTA_LINKED_PROGRAMS.

function(corvanta_install_path setting out)
    if(IS_ABSOLUTE "${setting}")
        set(${out} "${setting}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${setting}" PARENT_SCOPE)
    endif()
endfunction()

corvanta_install_path("${CORVANTA_PROGRAM_DIR_SETTING}" program_dir)
corvanta_install_path("${CORVANTA_BIN_DIR_SETTING}" bin_dir)
corvanta_install_path("${CORVANTA_DATA_DIR_SETTING}" data_dir)

# Desktop entry. Exec takes a quoted argument in which ", `, $ and \ are escaped, and the file format escapes
# every \ once more; % starts a field code. TryExec is a plain string.
set(program "${program_dir}/corvanta")
string(REPLACE "\\" "\\\\" exec_argument "${program}")
string(REGEX REPLACE "([\"`$])" "\\\\\\1" exec_argument "${exec_argument}")
string(REPLACE "\\" "\\\\" exec_argument "${exec_argument}")
string(REPLACE "%" "%%" exec_argument "${exec_argument}")
set(CORVANTA_EXEC "\"${exec_argument}\"")
string(REPLACE "\\" "\\\\" CORVANTA_TRY_EXEC "${program}")

set(entry "$ENV{DESTDIR}${data_dir}/applications/corvanta.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${CORVANTA_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")

# Links rather than copies: the program folder is the folder of the resolved executable, so the side files are
# found wherever the program is started from.
file(MAKE_DIRECTORY "$ENV{DESTDIR}${bin_dir}")
foreach(name IN LISTS CORVANTA_LINKED_PROGRAMS)
    file(RELATIVE_PATH link_target "${bin_dir}" "${program_dir}/${name}")
    set(link "$ENV{DESTDIR}${bin_dir}/${name}")
    message(STATUS "Installing: ${link} -> ${link_target}")
    file(CREATE_LINK "${link_target}" "${link}" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")
endforeach()
