# Builds the MSI from model.wxs (the target "msi"; the Wine test builds its
# newer version with it too):
#
#   cmake -D WIXL=<wixl> -D PYTHON=<python3> -D WXS=<model.wxs>
#         -D OUTPUT=<file.msi> -D VERSION=<x.y.z> -D UPGRADE_CODE=<guid>
#         -P msi.cmake
#
# The product code is a name-based UUID of the version under the upgrade
# code: every build of one version is the same product, so installing a
# rebuild leaves one entry in Programs and Features, and scripts can remove
# a version by its code without the MSI file. msi_stamp.py then gives the
# package the package code and the times of its contents.
foreach(var WIXL PYTHON WXS OUTPUT VERSION UPGRADE_CODE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "msi.cmake: -D ${var}=... is missing")
  endif()
endforeach()

string(UUID product_code NAMESPACE ${UPGRADE_CODE} NAME ${VERSION}
       TYPE SHA1 UPPER)
# wixl takes the programs' paths relative to the .wxs's folder.
get_filename_component(wxs_dir ${WXS} DIRECTORY)
get_filename_component(wxs_name ${WXS} NAME)
# wixl neither makes the output's folder nor fails without it.
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
file(REMOVE ${OUTPUT})
execute_process(
  COMMAND ${WIXL} --arch x64 -D Version=${VERSION}
          -D ProductCode=${product_code} --output ${OUTPUT} ${wxs_name}
  WORKING_DIRECTORY ${wxs_dir}
  RESULT_VARIABLE failed)
if(failed OR NOT EXISTS ${OUTPUT})
  message(FATAL_ERROR "wixl failed: ${failed}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONDONTWRITEBYTECODE=1
          ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/msi_stamp.py ${OUTPUT}
          ${product_code}
  RESULT_VARIABLE failed)
if(failed)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "msi_stamp.py failed: ${failed}")
endif()
