# Compiler settings shared by every target of the project.
add_library(kov_options INTERFACE)
target_compile_options(kov_options INTERFACE -Wall -Wextra -Wpedantic)
if(KOVANE_WERROR)
    target_compile_options(kov_options INTERFACE -Werror)
endif()
# Failure reports name source files relative to the checkout, not the build machine's paths.
target_compile_options(kov_options INTERFACE "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=")

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(KOVANE_WINDOWS ON)
    # _WIN32_WINNT 0x0A00: Windows 10, the oldest system the launcher supports.
    target_compile_definitions(kov_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                     _WIN32_WINNT=0x0A00)
    target_link_options(kov_options INTERFACE -static)
    # The launcher is a download users wait for: each function and datum in a section of its own,
    # so that the link drops whatever nothing calls (the link-time partitions included).
    target_compile_options(kov_options INTERFACE -ffunction-sections -fdata-sections)
    # One link-time partition: GCC 12 for mingw stops with an internal error (in
    # binds_to_current_def_p) on symbols shared between partitions.
    target_link_options(kov_options INTERFACE -ffunction-sections -fdata-sections
                        -Wl,--gc-sections -flto-partition=one)
else()
    set(KOVANE_WINDOWS OFF)
endif()

# Products are built without exceptions: our code does not throw, and a failed allocation is
# reported by our own operator new.
add_library(kov_product_options INTERFACE)
target_link_libraries(kov_product_options INTERFACE kov_options)
target_compile_options(kov_product_options INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
if(KOVANE_WINDOWS)
    # Link-time optimisation across the product and the libraries built for it. The objects keep
    # their plain code too: test programs link that, without the long link-time step.
    target_compile_options(kov_product_options INTERFACE -flto -ffat-lto-objects)
endif()
