# Patched copies of SWIG's own Python library files.
#
# korvane_patch_swig_library(<swig> <swig version> <patch dir> <output dir>)
#
# For each <patch dir>/<name>.patch (a unified diff against SWIG's
# Lib/python/<name>), copies the installed SWIG's <name> into <output dir>
# with the patch applied. The caller puts <output dir> first on SWIG's -I
# search path, so the patched copies replace the stock files. A patch that
# does not apply exactly (no fuzz; whitespace differences in the context are
# tolerated) stops the configure with a message naming the SWIG version and
# the patch. Configure runs again when a patch or a stock file changes; a
# copy is rewritten only when its content changes, so the wrapper is not
# regenerated needlessly.
function(korvane_patch_swig_library swig swig_version patch_dir output_dir)
  find_program(KORVANE_PATCH NAMES patch)
  if(NOT KORVANE_PATCH)
    message(FATAL_ERROR "The module build needs the program 'patch' to apply "
                        "${patch_dir}/*.patch to SWIG's library (scripts/bootstrap.sh installs it)")
  endif()

  execute_process(COMMAND ${swig} -swiglib
                  OUTPUT_VARIABLE swig_lib OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE swig_lib_result)
  # -swiglib may print more than one line (the build's and the installed
  # location); the first that holds the Python files is used.
  string(REPLACE "\n" ";" swig_lib_candidates "${swig_lib}")
  set(python_lib "")
  foreach(candidate IN LISTS swig_lib_candidates)
    if(NOT python_lib AND EXISTS "${candidate}/python/pyrun.swg")
      set(python_lib "${candidate}/python")
    endif()
  endforeach()
  if(NOT swig_lib_result EQUAL 0 OR NOT python_lib)
    message(FATAL_ERROR "SWIG ${swig_version}: no Python library found under "
                        "'${swig_lib}' (from ${swig} -swiglib)")
  endif()

  file(GLOB patches CONFIGURE_DEPENDS "${patch_dir}/*.patch")
  file(MAKE_DIRECTORY "${output_dir}")
  set(scratch "${CMAKE_CURRENT_BINARY_DIR}/swig-patch-scratch")
  file(MAKE_DIRECTORY "${scratch}")

  set(patched_names "")
  set(patched_files "")
  foreach(patch_file IN LISTS patches)
    get_filename_component(patch_name "${patch_file}" NAME)
    string(REGEX REPLACE "\\.patch$" "" name "${patch_name}")
    set(stock "${python_lib}/${name}")
    if(NOT EXISTS "${stock}")
      message(FATAL_ERROR "SWIG ${swig_version}: ${patch_file} patches ${name}, "
                          "which this SWIG does not have (${python_lib})")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${patch_file}" "${stock}")

    set(attempt "${scratch}/${name}")
    file(REMOVE "${attempt}")
    execute_process(
      COMMAND ${KORVANE_PATCH} --batch --forward --fuzz=0 --ignore-whitespace
              --no-backup-if-mismatch --reject-file=- --output=${attempt}
              ${stock} ${patch_file}
      RESULT_VARIABLE patch_result
      OUTPUT_VARIABLE patch_output
      ERROR_VARIABLE patch_output)
    if(NOT patch_result EQUAL 0)
      file(REMOVE "${attempt}" "${output_dir}/${name}")
      message(FATAL_ERROR "SWIG ${swig_version}: the patch ${patch_file} does not apply "
                          "to ${stock}:\n${patch_output}")
    endif()
    configure_file("${attempt}" "${output_dir}/${name}" COPYONLY)
    list(APPEND patched_names "${name}")
    list(APPEND patched_files "${output_dir}/${name}")
  endforeach()

  # A copy whose patch was removed must no longer hide the stock file.
  file(GLOB previous LIST_DIRECTORIES false "${output_dir}/*")
  foreach(old IN LISTS previous)
    get_filename_component(old_name "${old}" NAME)
    if(NOT old_name IN_LIST patched_names)
      file(REMOVE "${old}")
    endif()
  endforeach()

  set(KORVANE_SWIG_PATCHED_FILES "${patched_files}" PARENT_SCOPE)
  list(JOIN patched_names ", " patched_list)
  message(STATUS "SWIG ${swig_version}: patched ${patched_list} from ${python_lib}")
endfunction()
