# The camera library for the Windows cross build. Debian has no Windows build
# of it, so the program links against an import library for OpenNI2.dll made
# from the names the Linux library exports: both are built from the same
# sources, and the program only calls the library's C functions (its C++
# interface is inline).
set(CAMWATCH_OPENNI2_EXPORTS /usr/lib/x86_64-linux-gnu/libOpenNI2.so.0
    CACHE FILEPATH "The Linux camera library whose exported names the import library lists")
execute_process(COMMAND nm -D --defined-only ${CAMWATCH_OPENNI2_EXPORTS}
    OUTPUT_VARIABLE exported RESULT_VARIABLE nm_status)
string(REGEX MATCHALL "[0-9a-f]+ T oni[A-Za-z0-9_]+" exported "${exported}")
set(definitions "LIBRARY OpenNI2.dll\nEXPORTS\n")
foreach(line IN LISTS exported)
    string(REGEX REPLACE ".* T " "" name "${line}")
    string(APPEND definitions "    ${name}\n")
endforeach()
if(NOT nm_status EQUAL 0 OR NOT definitions MATCHES "oniInitialize")
    message(FATAL_ERROR "no oni* functions exported by ${CAMWATCH_OPENNI2_EXPORTS}")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/OpenNI2.def "${definitions}")

set(import_library ${PROJECT_BINARY_DIR}/libOpenNI2.dll.a)
add_custom_command(OUTPUT ${import_library}
    COMMAND x86_64-w64-mingw32-dlltool --def ${PROJECT_BINARY_DIR}/OpenNI2.def
            --output-lib ${import_library}
    DEPENDS ${PROJECT_BINARY_DIR}/OpenNI2.def
    VERBATIM)
add_custom_target(openni2_import_library DEPENDS ${import_library})

add_library(openni2 INTERFACE)
add_dependencies(openni2 openni2_import_library)
target_include_directories(openni2 SYSTEM INTERFACE /usr/include/openni2)
# The library's platform header, forced in ahead of every source.
target_compile_options(openni2 INTERFACE
    -include ${CMAKE_CURRENT_LIST_DIR}/openni2_platform_for_mingw.h)
target_link_libraries(openni2 INTERFACE ${import_library})
target_link_options(openni2 INTERFACE -static-libgcc -static-libstdc++)
