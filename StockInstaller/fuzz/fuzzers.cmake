# Fuzz targets for the parsers of bytes that come from printers. With TQ_FUZZ on a clang
# build they are libFuzzer programs run for a few seconds by ctest; otherwise the same entry
# points are driven by a replay of generated inputs, built with the sanitizers.
set(STOCKINSTALLER_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

function(add_stockinstaller_fuzzer name)
  set(sources ${ARGN})
  if(TQ_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(${name} ${sources})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set(run $<TARGET_FILE:${name}> -max_total_time=10 -rss_limit_mb=1024)
  else()
    add_executable(${name} ${sources} ${STOCKINSTALLER_FUZZ_DIR}/replay_main.cpp)
    if(NOT TQ_SANITIZE)
      target_compile_options(${name} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
      target_link_options(${name} PRIVATE -fsanitize=address,undefined)
    endif()
    set(run $<TARGET_FILE:${name}> 20000)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE platform tq_warnings)
  add_test(NAME fuzz.${name} COMMAND ${run})
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 120)
endfunction()

add_stockinstaller_fuzzer(fuzz_snmp_value ${STOCKINSTALLER_FUZZ_DIR}/snmp_value_fuzz.cpp SnmpMessage.cpp)
add_stockinstaller_fuzzer(fuzz_st2_status ${STOCKINSTALLER_FUZZ_DIR}/st2_status_fuzz.cpp St2Status.cpp)
add_stockinstaller_fuzzer(fuzz_device_id ${STOCKINSTALLER_FUZZ_DIR}/device_id_fuzz.cpp PrinterChannel.cpp
  SnmpMessage.cpp)
