# Writes the template of the program's texts with xgettext and compares it
# with po/mereglass.pot, the date of its making aside. Run with cmake -P:
#   -D SOURCE_DIR=<the project> -D WORK=<a build folder> -D VERSION=<x.y.z>
#   -D MODE=update   replaces po/mereglass.pot when its texts differ and
#                    merges the new template into each language's .po
#   -D MODE=check    fails, saying how to update it, when they differ
# The texts are those of _(), N_() and P_() (support/translation.h) in every
# source file under src/, the desktop entries' names and comments and the
# metainfo's texts.
cmake_minimum_required(VERSION 3.25)
foreach(var SOURCE_DIR WORK VERSION MODE)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "pot.cmake needs -D ${var}=...")
    endif()
endforeach()
find_program(XGETTEXT xgettext REQUIRED)
find_program(MSGMERGE msgmerge REQUIRED)

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h)
list(SORT sources)
set(made ${WORK}/mereglass.pot)
file(MAKE_DIRECTORY ${WORK})
execute_process(
    COMMAND ${XGETTEXT} --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=P_:1,2
        --add-comments=TRANSLATORS: --add-location=file --package-name=mereglass --package-version=${VERSION}
        --msgid-bugs-address=mereglass@example.org
        "--copyright-holder=Mereglass developers" -o ${made}
        ${sources} data/mereglass.desktop data/org.example.Mereglass.desktop
        data/org.example.Mereglass.metainfo.xml
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "xgettext failed")
endif()

# The template's text without the line that dates it.
function(undated path out)
    set(text "")
    if(EXISTS ${path})
        file(READ ${path} text)
        string(REGEX REPLACE "\"POT-Creation-Date: [^\"]*\"\n" "" text "${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(kept ${SOURCE_DIR}/po/mereglass.pot)
undated(${made} new)
undated(${kept} old)
if(new STREQUAL old)
    return()
endif()
if(MODE STREQUAL "check")
    message(FATAL_ERROR "po/mereglass.pot is not the sources' texts: build the target "
        "mereglass_pot, which updates it and the .po files, and translate what is new")
endif()
file(COPY_FILE ${made} ${kept})
file(STRINGS ${SOURCE_DIR}/po/LINGUAS languages REGEX "^[^#]")
foreach(language ${languages})
    execute_process(COMMAND ${MSGMERGE} --quiet --update --backup=none --no-wrap
        ${SOURCE_DIR}/po/${language}.po ${kept})
endforeach()
message(STATUS "Updated po/mereglass.pot")
