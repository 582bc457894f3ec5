# vcl_embed_form(<target> <file> <name>): compiles the form description <file> into <target>;
# C++ code gets its text with VCL_DECLARE_FORM(<name>) and VCL_FORM(<name>) (gui/forms.h).
# The text is embedded at build time and follows every change of the file.
function(vcl_embed_form target file name)
  get_filename_component(_in ${file} ABSOLUTE)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/vcl_form_${name}.cpp)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -DIN=${_in} -DOUT=${_out} -DNAME=${name}
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/embed_form_script.cmake
    DEPENDS ${_in} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/embed_form_script.cmake
    COMMENT "Embedding form description ${file}"
    VERBATIM)
  target_sources(${target} PRIVATE ${_out})
endfunction()
