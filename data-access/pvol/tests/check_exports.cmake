# Compares the dynamic symbols libpvol defines with the intended interface, one name a line.
#   cmake -DNM=nm -DLIBRARY=libpvol.so -DEXPECTED=exported_symbols.txt -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(exported)
foreach(line IN LISTS lines)
    string(REGEX MATCH "^[^ ]+" name "${line}")
    # Sanitizer builds add their own bookkeeping symbols; they are not part of the interface.
    if(name STREQUAL "" OR name MATCHES "^(__asan|__odr_asan|__ubsan|__sanitizer|__lsan)")
        continue()
    endif()
    list(APPEND exported ${name})
endforeach()

file(STRINGS ${EXPECTED} expected REGEX "^[A-Za-z_]")
set(unexpected ${exported})
list(REMOVE_ITEM unexpected ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${exported})

if(unexpected OR missing)
    list(JOIN unexpected "\n  " unexpected_text)
    list(JOIN missing "\n  " missing_text)
    message(FATAL_ERROR "libpvol does not export exactly its interface.\n"
        "Exported but not intended:\n  ${unexpected_text}\n"
        "Intended but not exported:\n  ${missing_text}")
endif()
list(LENGTH exported count)
message(STATUS "libpvol exports its ${count} intended symbols")
