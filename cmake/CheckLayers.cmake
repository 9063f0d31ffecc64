# Fails the build when a module includes a header of a module above it.
# The layers, lowest first: common <- analysis <- antivirus <- filter
# (which also uses scriptkit) <- proxy <- ui <- app.  scriptkit stands alone;
# learning stands on analysis, store and common, and filter on it; store (spools,
# account state, archive staging) stands on common alone, and filter and
# proxy on it; upstream (the mail server's side) stands on common alone, and
# proxy on it; oauth (the tokens of token logins) stands on common alone, and
# proxy and app on it.
#   cmake -DSOURCE_DIR=<tree> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed_common common)
set(allowed_scriptkit scriptkit)
set(allowed_analysis common analysis)
set(allowed_antivirus common analysis antivirus)
set(allowed_learning common analysis store learning)
set(allowed_store common store)
set(allowed_filter common analysis antivirus learning scriptkit store filter)
set(allowed_upstream common upstream)
set(allowed_oauth common oauth)
set(allowed_proxy common analysis antivirus learning scriptkit store filter upstream oauth proxy)
set(allowed_ui common analysis antivirus learning scriptkit store filter upstream oauth proxy ui)
set(allowed_app common analysis antivirus learning scriptkit store filter upstream oauth proxy ui app)

set(modules common scriptkit analysis antivirus learning store filter upstream oauth proxy ui app)
set(faults "")
foreach(module IN LISTS modules)
    file(GLOB sources "${SOURCE_DIR}/${module}/*.h" "${SOURCE_DIR}/${module}/*.cpp")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([a-z]+)/.*" "\\1" used "${line}")
            if(used IN_LIST modules AND NOT used IN_LIST allowed_${module})
                file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
                string(APPEND faults "\n  ${name}: ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()
# The core is plain C++ and POSIX: only ui and app may use Qt.
foreach(module common scriptkit analysis antivirus learning store filter upstream oauth proxy)
    file(GLOB sources "${SOURCE_DIR}/${module}/*.h" "${SOURCE_DIR}/${module}/*.cpp")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+<Q")
        foreach(line IN LISTS includes)
            file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
            string(APPEND faults "\n  ${name}: ${line} (Qt in the core)")
        endforeach()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "Includes against the layers:${faults}")
endif()
