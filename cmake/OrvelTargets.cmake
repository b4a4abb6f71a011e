# What every target of ours shares, and the rules that keep the layers apart.

# Warnings (errors with ORVEL_WERROR) and sanitizers. Every target of ours
# links it; orvel_check_targets() refuses a target that does not.
add_library(orvel_options INTERFACE)
target_compile_features(orvel_options INTERFACE cxx_std_20)
target_compile_options(orvel_options INTERFACE -Wall -Wextra $<$<BOOL:${ORVEL_WERROR}>:-Werror>)
if(ORVEL_SANITIZE)
    target_compile_options(orvel_options INTERFACE
        -fsanitize=${ORVEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(orvel_options INTERFACE -fsanitize=${ORVEL_SANITIZE})
    if(ORVEL_SANITIZE MATCHES "undefined")
        # Its type checks open a pipe of their own: tests that use up every
        # descriptor cannot run under it.
        target_compile_definitions(orvel_options INTERFACE ORVEL_UNDEFINED_SANITIZER)
    endif()
else()
    # Debian's hardening: the installed programs may open raw sockets
    # (cap_net_raw). Fortified functions need an optimizing build.
    target_compile_options(orvel_options INTERFACE -fstack-protector-strong
        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    target_link_options(orvel_options INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()

# The version, from project(VERSION) only: "Orvelversion.h" for whoever links
# orvel_version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/Orvelversion.h.in ${CMAKE_BINARY_DIR}/include/version/Orvelversion.h @ONLY)
add_library(orvel_version INTERFACE)
target_include_directories(orvel_version INTERFACE ${CMAKE_BINARY_DIR}/include/version)

# orvel_expose(<target> <folder>): whoever links <target> may include
# "<folder>/Unit.h", and no other folder comes with it. Headers are included
# by their path from the top of the tree, so each folder gets an include root
# of its own in the build tree that holds nothing but a link to that folder.
# Including from a layer one does not link then fails to compile.
function(orvel_expose target folder)
    string(REPLACE "/" "_" root_name ${folder})
    set(root ${CMAKE_BINARY_DIR}/include/${root_name})
    set(link ${root}/${folder})
    if(NOT IS_SYMLINK ${link})
        get_filename_component(parent ${link} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()

# orvel_use_qt(<target>): moc, and uic with the layouts of forms/.
function(orvel_use_qt target)
    set_target_properties(${target} PROPERTIES
        AUTOMOC ON
        AUTOUIC ON
        AUTOUIC_SEARCH_PATHS ${CMAKE_SOURCE_DIR}/forms)
endfunction()

# orvel_require_listed(<pattern> <names...>): every file that matches the
# pattern ("test_*.cpp") must be one of the names put in for the "*". A test,
# fuzz or benchmark program that nobody listed would silently never run.
function(orvel_require_listed pattern)
    string(REPLACE "." "\\." regex "${pattern}")
    string(REPLACE "*" "(.*)" regex "^${regex}$")
    file(GLOB present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
    foreach(file IN LISTS present)
        string(REGEX MATCH "${regex}" matched "${file}")
        if(NOT CMAKE_MATCH_1 IN_LIST ARGN)
            message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file} is not listed in ${CMAKE_CURRENT_LIST_FILE}")
        endif()
    endforeach()
endfunction()

function(orvel_collect_targets directory result)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        orvel_collect_targets(${subdirectory} more)
        list(APPEND targets ${more})
    endforeach()
    set(${result} ${targets} PARENT_SCOPE)
endfunction()

# Every target that compiles something links orvel_options, so that no
# target of ours builds without the warnings or the sanitizers.
function(orvel_check_targets)
    orvel_collect_targets(${CMAKE_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
            get_target_property(links ${target} LINK_LIBRARIES)
            if(NOT "orvel_options" IN_LIST links)
                message(FATAL_ERROR "target ${target} does not link orvel_options")
            endif()
        endif()
    endforeach()
endfunction()
