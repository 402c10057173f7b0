# The layers of the source tree. Each folder is one layer and may include
# only its own headers, the public header and the folders named here;
# docs/ARCHITECTURE.md draws the same table. The library of a folder links
# the libraries of the layers it uses, and the build's `layering` step
# fails on a quoted include of any other folder.
set(PELK_LAYER_USES_services "")
set(PELK_LAYER_USES_wire services)
set(PELK_LAYER_USES_unix wire services)
set(PELK_LAYER_USES_emu wire services)
set(PELK_LAYER_USES_oam services)
set(PELK_LAYER_USES_capture wire services)
set(PELK_LAYER_USES_protocol "")
set(PELK_LAYER_USES_remote protocol wire services)
set(PELK_LAYER_USES_front unix emu oam capture remote services)
set(PELK_LAYER_USES_tools/common services)
set(PELK_LAYER_USES_tools/pelk tools/common capture services)
set(PELK_LAYER_USES_tools/oamtab tools/common oam services)
set(PELK_LAYER_USES_tools/zbhost tools/common capture wire services)
set(PELK_LAYER_USES_tools/pelkd tools/common protocol wire services)
set(PELK_LAYER_USES_tools/wireshark services)
set(PELK_LAYER_USES_python services)
set(PELK_LAYERS services wire unix emu oam capture protocol remote front tools/common tools/pelk
    tools/oamtab tools/zbhost tools/pelkd tools/wireshark python)

# pelk_layer_library(FOLDER SOURCES...): the static library pelk_<folder>
# of a library layer, linked to the libraries of the layers it uses.
function(pelk_layer_library folder)
    set(target pelk_${folder})
    add_library(${target} STATIC ${ARGN})
    foreach(used ${PELK_LAYER_USES_${folder}})
        target_link_libraries(${target} PUBLIC pelk_${used})
    endforeach()
    add_dependencies(${target} layering)
endfunction()

# The check itself, run on every build from the table above.
set(PELK_LAYER_TABLE "")
foreach(layer ${PELK_LAYERS})
    string(JOIN "," uses ${PELK_LAYER_USES_${layer}})
    string(APPEND PELK_LAYER_TABLE "${layer}=${uses}\n")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/layers.txt "${PELK_LAYER_TABLE}")
add_custom_target(layering ALL
    COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DLAYERS=${PROJECT_BINARY_DIR}/layers.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking that no folder includes a layer it may not use"
    VERBATIM)
