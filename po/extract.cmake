# Extracts every text that passes through the catalogue into the template
# OUT: those of src/ and quellonctl/ (_(), N_() and the plural P_()), and the
# translatable fields of the menu entry and the AppStream metadata templates
# in data/. Run with -DXGETTEXT -DSOURCE_DIR -DOUT, or include() with those
# set.
file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.cpp"
     "${SOURCE_DIR}/quellonctl/*.cpp" "${SOURCE_DIR}/data/*.in")
list(SORT sources)
# The language of each file follows from its name (.cpp, .desktop.in,
# .metainfo.xml.in).
execute_process(
  COMMAND "${XGETTEXT}" --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=P_:1,2
          --package-name=quellon --add-comments=TRANSLATORS: --sort-by-file -o "${OUT}" ${sources}
  WORKING_DIRECTORY "${SOURCE_DIR}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
