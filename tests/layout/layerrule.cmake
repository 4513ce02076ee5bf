# cmake -DRULE=<src/layers.cmake> -P layerrule.cmake
include(${RULE})

set(layers low mid high)
# expect(<what> <expected problems, "" for none> <library> <linked>...)
function(expect what expected library)
  lanzhou_layer_problems(found "${layers}" ${library} ${ARGN})
  if(NOT "${found}" STREQUAL "${expected}")
    message(SEND_ERROR "${what}:\n  expected: ${expected}\n  found:    ${found}")
  endif()
endfunction()

expect("links the layers below" "" lanzhou_high lanzhou_mid lanzhou_low)
expect("links nothing of ours" "" lanzhou_low Qt6::Core PkgConfig::EXPAT)
expect("links targets of ours that are no library of a layer" ""
  lanzhou_mid lanzhou_mid_resources_1)
expect("links the layer above" "lanzhou_low links lanzhou_mid, which does not stand below it"
  lanzhou_low lanzhou_core_x lanzhou_mid)
expect("links the top from the middle, kept from its users"
  "lanzhou_mid links lanzhou_high, which does not stand below it"
  lanzhou_mid "$<LINK_ONLY:lanzhou_high>")
expect("links two above, each named once"
  "lanzhou_low links lanzhou_mid, which does not stand below it;lanzhou_low links lanzhou_high, which does not stand below it"
  lanzhou_low lanzhou_mid lanzhou_high lanzhou_mid)
expect("stands in no layer" "lanzhou_extra stands in no layer" lanzhou_extra lanzhou_low)
