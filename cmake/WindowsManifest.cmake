# Every Windows program of the project carries cmake/windows/tunesift.manifest: long-path aware.
set(TUNESIFT_MANIFEST_RC ${CMAKE_BINARY_DIR}/tunesift-manifest.rc)
if(WIN32)
    enable_language(RC)
    file(CONFIGURE OUTPUT ${TUNESIFT_MANIFEST_RC}
         CONTENT "1 24 \"${CMAKE_CURRENT_LIST_DIR}/windows/tunesift.manifest\"\n")
endif()

function(tunesift_windows_manifest target)
    if(WIN32)
        target_sources(${target} PRIVATE ${TUNESIFT_MANIFEST_RC})
    endif()
endfunction()
