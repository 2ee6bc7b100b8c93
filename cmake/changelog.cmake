# Turns CHANGELOG.md (Keep a Changelog form) into the changelogs of the Linux
# packages, so that what users read in the repository, in
# /usr/share/doc/model/changelog.gz and in `rpm -q --changelog` is one text.
#
#   model_changelogs(<markdown> DEBIAN <file> RPM <file> [MAINTAINER <text>])
#
# Each "## [x.y.z] - YYYY-MM-DD" section becomes one entry, newest first as
# in the markdown; "### Kind" headings name their items' kind. Markdown
# emphasis and links are reduced to plain text. Fails when no section is the
# project's version: a release without notes is not packaged.

# Day of the week of a date, 0 for Sunday (Sakamoto's method: the Gregorian
# calendar needs no table beyond the month offsets).
function(_model_weekday year month day out)
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR m "${month} - 1")
  list(GET offsets ${m} offset)
  if(month LESS 3)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR w "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
  set(${out} ${w} PARENT_SCOPE)
endfunction()

# Plain text of one markdown line: no backticks, links as their text.
function(_model_plain text out)
  string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\)" "\\1" text "${text}")
  string(REPLACE "`" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Wraps words into lines of at most `width` characters; the first line starts
# with `first`, the others with `rest`.
function(_model_wrap text first rest width out)
  string(REGEX REPLACE "[ \t\r\n]+" ";" words "${text}")
  set(result "")
  set(line "${first}")
  set(empty TRUE)
  foreach(word IN LISTS words)
    string(LENGTH "${line} ${word}" len)
    if(NOT empty AND len GREATER width)
      string(APPEND result "${line}\n")
      set(line "${rest}${word}")
    elseif(empty)
      set(line "${line}${word}")
    else()
      set(line "${line} ${word}")
    endif()
    set(empty FALSE)
  endforeach()
  set(${out} "${result}${line}\n" PARENT_SCOPE)
endfunction()

# Adds the item being read to both entries (a macro: it works on the
# caller's variables).
macro(_model_flush_item)
  if(item)
    _model_plain("${item}" item)
    _model_wrap("${item}" "    - " "      " 79 wrapped)
    string(APPEND deb_items "${wrapped}")
    _model_wrap("${kind}${item}" "- " "  " 79 wrapped)
    string(APPEND rpm_items "${wrapped}")
  endif()
endmacro()

function(model_changelogs markdown)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DEBIAN;RPM;MAINTAINER" "")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${markdown})
  # Read as one text so that a ';' in the notes is not taken for CMake's
  # list separator; it is carried as the unit separator (one character, so
  # that wrapping counts it right) and put back when written.
  string(ASCII 31 semicolon)
  file(READ ${markdown} text)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(days Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(debian "")
  set(rpm "")
  set(version "")
  set(found FALSE)
  # A trailing sentinel closes the last section.
  list(APPEND lines "## [end]")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## \\[")
      if(version)
        # Close the section that ends here.
        _model_flush_item()
        string(APPEND debian "${PROJECT_NAME} (${version}) unstable; urgency=medium\n\n"
               "${deb_items}\n -- ${arg_MAINTAINER}  ${deb_date}\n\n")
        string(APPEND rpm "* ${rpm_date} ${arg_MAINTAINER} - ${version}-1\n${rpm_items}\n")
      endif()
      set(version "")
      if(line MATCHES "^## \\[([0-9.]+)\\] - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
        set(version ${CMAKE_MATCH_1})
        set(y ${CMAKE_MATCH_2})
        set(mo ${CMAKE_MATCH_3})
        set(d ${CMAKE_MATCH_4})
        if(version VERSION_EQUAL PROJECT_VERSION)
          set(found TRUE)
        endif()
        math(EXPR month_index "${mo} - 1")
        list(GET months ${month_index} month_name)
        _model_weekday(${y} ${mo} ${d} wd)
        list(GET days ${wd} day_name)
        set(deb_date "${day_name}, ${d} ${month_name} ${y} 00:00:00 +0000")
        set(rpm_date "${day_name} ${month_name} ${d} ${y}")
        set(deb_items "")
        set(rpm_items "")
        set(item "")
        set(kind "")
      endif()
    elseif(version AND line MATCHES "^### (.+)$")
      set(heading "${CMAKE_MATCH_1}")
      set(kind "${heading}: ")
      string(APPEND deb_items "  * ${heading}:\n")
    elseif(version AND line MATCHES "^- (.*)$")
      set(next "${CMAKE_MATCH_1}")
      _model_flush_item()
      set(item "${next}")
    elseif(version AND item AND line MATCHES "^  +(.+)$")
      string(APPEND item " ${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "${markdown} has no section \"## [${PROJECT_VERSION}] - <date>\": "
                        "every version is released with its notes")
  endif()
  string(REPLACE "${semicolon}" ";" debian "${debian}")
  string(REPLACE "${semicolon}" ";" rpm "${rpm}")
  file(WRITE ${arg_DEBIAN} "${debian}")
  file(WRITE ${arg_RPM} "${rpm}")
endfunction()
