# Every text that passes through the catalogue (src/, quellonctl/, the menu
# entry, the AppStream metadata) has a Japanese one in po/ja.po and is listed
# in po/quellon.pot. Run with -DXGETTEXT -DMSGCMP -DSOURCE_DIR -DOUT.
include("${SOURCE_DIR}/po/extract.cmake")
execute_process(COMMAND "${MSGCMP}" "${SOURCE_DIR}/po/ja.po" "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "po/ja.po lacks a translation of the texts above")
endif()
execute_process(COMMAND "${MSGCMP}" --use-untranslated "${SOURCE_DIR}/po/quellon.pot" "${OUT}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "po/quellon.pot is out of date: cmake --build BUILD --target quellon_pot")
endif()
