# Writes the zip's texts into OUT with Windows line ends: README.txt, LICENSE.txt, and the
# manual page rendered as plain text, kelp.txt.
function(write_windows_text name text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUT}/${name} "${text}")
endfunction()

file(READ ${SOURCE}/README.md readme)
write_windows_text(README.txt "${readme}")
file(READ ${SOURCE}/LICENSE licence)
write_windows_text(LICENSE.txt "${licence}")
execute_process(COMMAND groff -man -Tascii -P-c -P-b -P-u ${SOURCE}/docs/kelp.1
                OUTPUT_VARIABLE manual RESULT_VARIABLE rendered ERROR_QUIET)
if(NOT rendered EQUAL 0)
  message(FATAL_ERROR "groff could not render docs/kelp.1")
endif()
write_windows_text(kelp.txt "${manual}")
