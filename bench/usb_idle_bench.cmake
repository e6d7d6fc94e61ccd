# An attached, silent mouse behind the USB link against a 4 ms poll of the same scripted mouse.
target_link_libraries(usb_idle_bench PRIVATE device pravik_fakes)
