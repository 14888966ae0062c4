# Compiles files into the binary as byte arrays, one generated source per resource.
# A file that does not exist at configure time becomes an empty resource.
set(LUMIVALE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedFile.cmake)

function(lumivale_embed_resource target symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated/${symbol}.cpp)
  if(EXISTS ${file})
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${out} -DSYMBOL=${symbol} -P ${LUMIVALE_EMBED_SCRIPT}
      DEPENDS ${file} ${LUMIVALE_EMBED_SCRIPT}
      COMMENT "Embedding ${file}"
      VERBATIM)
  else()
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DOUTPUT=${out} -DSYMBOL=${symbol} -P ${LUMIVALE_EMBED_SCRIPT}
      DEPENDS ${LUMIVALE_EMBED_SCRIPT}
      COMMENT "Embedding an empty ${symbol} (${file} is absent)"
      VERBATIM)
  endif()
  target_sources(${target} PRIVATE ${out})
endfunction()
