# The rule of the layers (the order itself is LANZHOU_LAYERS in
# src/CMakeLists.txt): a library of ours links only libraries of ours from
# layers below its own. Kept in a file of its own so that a test can put the
# rule to work without a build (tests/layout).

# Sets <out> to what is wrong when <library> links <linked>..., one sentence
# per problem (empty when nothing is). Libraries are named lanzhou_<layer>;
# anything else linked (Qt, pkg-config targets, the template's resources) is
# no concern here, and a library of ours outside the layers is named when it
# is checked itself.
#   lanzhou_layer_problems(<out> "<layer>;<layer>;..." <library> <linked>...)
function(lanzhou_layer_problems out layers library)
  set(problems)
  string(REGEX REPLACE "^lanzhou_" "" own "${library}")
  list(FIND layers "${own}" ownIndex)
  if(ownIndex EQUAL -1)
    list(APPEND problems "${library} stands in no layer")
  endif()
  foreach(linked IN LISTS ARGN)
    # A link kept from the users of a static library reads $<LINK_ONLY:name>.
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" linked "${linked}")
    if(NOT linked MATCHES "^lanzhou_")
      continue()
    endif()
    string(REGEX REPLACE "^lanzhou_" "" layer "${linked}")
    list(FIND layers "${layer}" index)
    if(ownIndex GREATER_EQUAL 0 AND index GREATER_EQUAL ownIndex)
      list(APPEND problems "${library} links ${linked}, which does not stand below it")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES problems)
  set(${out} "${problems}" PARENT_SCOPE)
endfunction()
