#pragma once

// The libusb functions the transport calls, as a table: the real library's
// by default; tests put in their own to play a device (its descriptors,
// its transfers and their completions) without a box on the bus.

#include <libusb.h>

namespace phonaxis::usb {

struct LibUsbApi {
    decltype(&libusb_init) init = &libusb_init;
    decltype(&libusb_exit) exit = &libusb_exit;
    decltype(&libusb_has_capability) has_capability = &libusb_has_capability;
    decltype(&libusb_set_pollfd_notifiers) set_pollfd_notifiers = &libusb_set_pollfd_notifiers;
    decltype(&libusb_get_pollfds) get_pollfds = &libusb_get_pollfds;
    decltype(&libusb_free_pollfds) free_pollfds = &libusb_free_pollfds;
    decltype(&libusb_get_next_timeout) get_next_timeout = &libusb_get_next_timeout;
    decltype(&libusb_handle_events_timeout_completed) handle_events_timeout_completed =
        &libusb_handle_events_timeout_completed;
    decltype(&libusb_hotplug_register_callback) hotplug_register_callback =
        &libusb_hotplug_register_callback;
    decltype(&libusb_hotplug_deregister_callback) hotplug_deregister_callback =
        &libusb_hotplug_deregister_callback;
    decltype(&libusb_get_device_list) get_device_list = &libusb_get_device_list;
    decltype(&libusb_free_device_list) free_device_list = &libusb_free_device_list;
    decltype(&libusb_ref_device) ref_device = &libusb_ref_device;
    decltype(&libusb_unref_device) unref_device = &libusb_unref_device;
    decltype(&libusb_get_device_descriptor) get_device_descriptor = &libusb_get_device_descriptor;
    decltype(&libusb_get_bus_number) get_bus_number = &libusb_get_bus_number;
    decltype(&libusb_get_device_address) get_device_address = &libusb_get_device_address;
    decltype(&libusb_get_port_numbers) get_port_numbers = &libusb_get_port_numbers;
    decltype(&libusb_get_config_descriptor) get_config_descriptor = &libusb_get_config_descriptor;
    decltype(&libusb_get_active_config_descriptor) get_active_config_descriptor =
        &libusb_get_active_config_descriptor;
    decltype(&libusb_free_config_descriptor) free_config_descriptor =
        &libusb_free_config_descriptor;
    decltype(&libusb_open) open = &libusb_open;
    decltype(&libusb_close) close = &libusb_close;
    decltype(&libusb_set_configuration) set_configuration = &libusb_set_configuration;
    decltype(&libusb_control_transfer) control_transfer = &libusb_control_transfer;
    decltype(&libusb_kernel_driver_active) kernel_driver_active = &libusb_kernel_driver_active;
    decltype(&libusb_detach_kernel_driver) detach_kernel_driver = &libusb_detach_kernel_driver;
    decltype(&libusb_claim_interface) claim_interface = &libusb_claim_interface;
    decltype(&libusb_release_interface) release_interface = &libusb_release_interface;
    decltype(&libusb_alloc_transfer) alloc_transfer = &libusb_alloc_transfer;
    decltype(&libusb_free_transfer) free_transfer = &libusb_free_transfer;
    decltype(&libusb_submit_transfer) submit_transfer = &libusb_submit_transfer;
    decltype(&libusb_cancel_transfer) cancel_transfer = &libusb_cancel_transfer;
};

} // namespace phonaxis::usb
