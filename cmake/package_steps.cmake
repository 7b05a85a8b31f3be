# Steps of the package's install rules (cmake/package.cmake), run at install time.

# Moves the debug information of `binary` into `binary`.debug and links the binary to it.
function(split_debug_information objcopy binary)
  execute_process(COMMAND ${objcopy} --only-keep-debug ${binary} ${binary}.debug COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${objcopy} --strip-debug --add-gnu-debuglink=${binary}.debug ${binary}
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# Writes `name` in `root`: the SHA-256 of every other file under `root`, as sha256sum -c reads it.
function(write_checksums root name)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
  list(REMOVE_ITEM files ${name})
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(SHA256 ${root}/${file} sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE ${root}/${name} "${sums}")
endfunction()
