# Fails when a text marked for translation has no finished English translation
# in the repository's .ts, or when that .ts is not what lupdate makes of the
# sources now (texts changed or gone). Runs lupdate on a copy, never on the
# repository's file. Arguments: LUPDATE, SOURCES (a list file), INCLUDE, TS, WORK,
# OPTIONS (lupdate's options as the update target passes them, '|'-separated).
string(REPLACE "|" ";" OPTIONS "${OPTIONS}")
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(copy ${WORK}/calorix_en.ts)
file(COPY_FILE ${TS} ${copy})
execute_process(COMMAND ${LUPDATE} ${OPTIONS} -I ${INCLUDE} @${SOURCES} -ts ${copy}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${rc}):\n${out}${err}")
endif()

# One <message> at a time: its source and whether its translation is finished.
file(READ ${copy} text)
# Semicolons and brackets would split or join CMake list items: masked first.
string(REPLACE ";" "&#59;" blocks "${text}")
string(REPLACE "[" "&#91;" blocks "${blocks}")
string(REPLACE "]" "&#93;" blocks "${blocks}")
string(REPLACE "</message>" "</message>;" blocks "${blocks}")
set(problems "")
foreach(block IN LISTS blocks)
  if(NOT block MATCHES "<source>([^<]*)</source>")
    continue()
  endif()
  set(source "${CMAKE_MATCH_1}")
  if(block MATCHES "type=\"(unfinished|vanished|obsolete)\"")
    set(kind "${CMAKE_MATCH_1}")
    if(kind STREQUAL "unfinished")
      string(APPEND problems "  no English translation: ${source}\n")
    else()
      string(APPEND problems "  no longer in the sources: ${source}\n")
    endif()
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "app/translations/calorix_en.ts is not complete:\n${problems}"
          "Run: cmake --build <build dir> --target update_translations, then translate.")
endif()

file(READ ${TS} original)
if(NOT original STREQUAL text)
  message(FATAL_ERROR "app/translations/calorix_en.ts is out of date (lupdate changes it): "
          "run cmake --build <build dir> --target update_translations")
endif()
message(STATUS "every marked text has its English translation")
