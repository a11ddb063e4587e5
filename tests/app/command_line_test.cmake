# Runs the built program with each command line of the table, without any display, and checks
# its exit code, standard output and standard error.
#   cmake -DQUORVEL=<program> -DVERSION=<x.y> -DRANK_URL=<address> -P command_line_test.cmake
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{QT_QPA_PLATFORM})

string(REPLACE "." "\\." version_re "${VERSION}")
string(REGEX REPLACE "([][.?*+^$()|\\\\])" "\\\\\\1" url_re "${RANK_URL}")
set(usage_re "^Usage: quorvel \\[-h \\| --help\\] \\[-V \\| --version\\]\n")
set(failures 0)

# check(<args> <exit code> <stdout regex> <stderr regex>); args are separated by ";" in a
# bracket argument, "" for none.
function(check args code out_re err_re)
  execute_process(COMMAND ${QUORVEL} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err TIMEOUT 20)
  if(NOT rc STREQUAL code OR NOT out MATCHES "${out_re}" OR NOT err MATCHES "${err_re}")
    message(SEND_ERROR "quorvel ${args}: exit ${rc} (want ${code})\n"
                       "stdout:\n${out}(want ${out_re})\nstderr:\n${err}(want ${err_re})")
  endif()
endfunction()

check("--help" 0 "${usage_re}" "^$")
check("-h" 0 "${usage_re}" "^$")
check("--version" 0 "^quorvel ${version_re}\nrank-lookup page: ${url_re}\n$" "^$")
check("-V" 0 "^quorvel ${version_re}\n" "^$")
check("--version;--help" 0 "${usage_re}" "^$")
# Anything else: one line naming it, then the usage, on standard error only.
check("--bogus" 2 "^$" "^quorvel: unknown option '--bogus'\nUsage: ")
check("--help;-x" 2 "^$" "^quorvel: unknown option '-x'\nUsage: ")
check("somefile" 2 "^$" "^quorvel: unexpected argument 'somefile'\nUsage: ")
check("-" 2 "^$" "^quorvel: unexpected argument '-'\nUsage: ")
check("--help=1" 2 "^$" "^quorvel: unknown option '--help=1'\nUsage: ")
check("--a\nb" 2 "^$" "^quorvel: unknown option '--a\\?b'\nUsage: ")
# Without arguments it wants the window, and says so when there is no display.
check("" 1 "^$" "^quorvel: no display found")
