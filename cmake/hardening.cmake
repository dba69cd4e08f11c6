# Debian's hardening for the optimised builds the package is made from: fortified libc calls,
# the stack protector, format-string checks and full RELRO (bind-now). dpkg-buildflags says what
# they are on this system; the build type still chooses optimisation and debug information, and
# the compiler already makes executables position independent (PIE). Sanitizer and fuzz builds
# keep their own instrumentation instead.
if(TOLVANE_SANITIZE OR TOLVANE_FUZZ)
    return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED) # Debian: dpkg-dev

# Paths are left as they are: a prefix map naming this build folder would keep ccache from
# sharing objects between checkouts.
set(hardening_options "hardening=+all reproducible=-fixfilepath,-fixdebugpath")
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=${hardening_options}
                ${DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags
        OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(O|g)")
    set(hardening_${kind} ${flags})
endforeach()

set(optimised_build "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
add_compile_options("$<${optimised_build}:${hardening_CPPFLAGS};${hardening_CXXFLAGS}>")
add_link_options("$<${optimised_build}:${hardening_LDFLAGS}>")
message(STATUS "Hardening for optimised builds: ${hardening_CPPFLAGS} ${hardening_CXXFLAGS} "
               "${hardening_LDFLAGS}")
