# Extracts every text of src/ and quellonctl/ that passes through the
# catalogue (_(), N_() and the plural P_()) into the template OUT. Run with
# -DXGETTEXT -DSOURCE_DIR -DOUT, or
# include() with those set.
file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/quellonctl/*.cpp")
list(SORT sources)
execute_process(
  COMMAND "${XGETTEXT}" --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=P_:1,2
          --package-name=quellon --add-comments=TRANSLATORS: --sort-by-file -o "${OUT}" ${sources}
  WORKING_DIRECTORY "${SOURCE_DIR}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
