# pelk_optional_part(OPTION PACKAGE LIBRARY WHAT): resolves OPTION (AUTO, ON
# or OFF) to a boolean. AUTO looks for the CMake package PACKAGE and leaves
# WHAT out with a message when it is missing; ON requires it.
macro(pelk_optional_part option package library what)
    string(TOUPPER "${${option}}" _pelk_choice)
    if(_pelk_choice STREQUAL "AUTO")
        find_package(${package} QUIET)
        if(${package}_FOUND)
            set(${option} ON)
        else()
            message(STATUS "${library} not found: the ${what} are not built "
                           "(set ${option}=ON to require them)")
            set(${option} OFF)
        endif()
    elseif(${option})
        find_package(${package} REQUIRED)
    endif()
endmacro()
