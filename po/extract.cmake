# Extracts every text of src/ that passes through the catalogue (_() and
# N_()) into the template OUT. Run with -DXGETTEXT -DSOURCE_DIR -DOUT, or
# include() with those set.
file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.cpp")
list(SORT sources)
execute_process(
  COMMAND "${XGETTEXT}" --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_
          --package-name=quellon --add-comments=TRANSLATORS: --sort-by-file -o "${OUT}" ${sources}
  WORKING_DIRECTORY "${SOURCE_DIR}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
