# Warnings on and treated as errors in the project's own code (not in GoogleTest).
function(project_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
endfunction()
