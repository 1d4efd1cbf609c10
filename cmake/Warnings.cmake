add_library(tunesift_warnings INTERFACE)
add_library(Tunesift::warnings ALIAS tunesift_warnings)
if(MSVC)
    target_compile_options(tunesift_warnings INTERFACE /W4 /permissive-)
else()
    target_compile_options(tunesift_warnings INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-qual
        -Woverloaded-virtual -Wimplicit-fallthrough)
endif()
