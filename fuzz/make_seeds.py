#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/. Each seed is a small
machine in the byte layout that the target's reader takes (see fuzz/fuzz_support.h and the
targets); run it again after changing a layout."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def word(value):
    return struct.pack('<H', value & 0xFFFF)


def write(target, name, data):
    directory = os.path.join(HERE, 'corpus', target)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), 'wb') as seed:
        seed.write(bytes(data))


def no_failure():
    return b'\x00\x00'


def failure(k, persistent):
    k -= 1
    return bytes([0x80 | (0x40 if persistent else 0) | (k >> 8 & 0x0F), k & 0xFF])


# ---- usb_replies -------------------------------------------------------------------------------
EMPTY, ADAPTER, OTHER, HUB, ADAPTER_OUTSIDE_TREE = range(5)
UNPLUGGED, CONNECTION_FAILS, ODD_STATUS = 0x08, 0x10, 0x20


def query(fails=False, unterminated=False, text=None, wide=None, actual=None):
    bits = (1 if fails else 0) | (2 if unterminated else 0) | (4 if text is not None else 0) \
        | (8 if wide is not None else 0) | (16 if actual is not None else 0)
    # A query answers its own way only when its byte has the top three bits set.
    out = bytes([bits | 0xE0 if bits else 0])
    if text is not None:
        out += word(len(text)) + text
    if wide is not None:
        out += word(len(wide)) + b''.join(word(ch) for ch in wide)
    if actual is not None:
        out += word(actual)
    return out


def port_count_bytes(count):
    """A hub's port count: below 8 in one byte, else 0xF0 and the count."""
    return bytes([count]) if count < 8 else bytes([0xF0, count])


def hub(ports, hub_bits=0):
    """ports: list of port descriptions (bytes) for ports 1..n; the hub's port count is given
    by its parent."""
    return bytes([hub_bits]) + b''.join(ports)


def empty_port():
    return bytes([EMPTY])


def adapter(rumble=False, key=query(), flags=0, status=None, outside_tree=False):
    out = bytes([(ADAPTER_OUTSIDE_TREE if outside_tree else ADAPTER) | flags |
                 (ODD_STATUS if status is not None else 0), 1 if rumble else 0]) + key
    return out + (bytes([status]) if status is not None else b'')


def other(vendor=0x046D, product=0xC31C, key=query()):
    return bytes([OTHER]) + word(vendor) + word(product) + key


def external_hub(port_count, ports, name=query(), key=query(), flags=0, hub_bits=0):
    return bytes([HUB | flags]) + port_count_bytes(port_count) + name + hub(ports, hub_bits) + key


def controller(port_count, ports, key=query(), root_name=query(), refuses=False):
    return bytes([1 if refuses else 0]) + key + root_name + port_count_bytes(port_count) + \
        hub(ports)


def machine(controllers, plan=no_failure()):
    mask = 0
    body = b''
    for index, description in sorted(controllers.items()):
        mask |= 1 << index
        body += description
    return plan + word(mask) + body


def usb_seeds():
    write('usb_replies', 'one_adapter', machine({0: controller(4, [empty_port(), adapter()])}))
    rich = {
        0: controller(4, [
            external_hub(4, [empty_port(), adapter(rumble=True), empty_port(),
                             adapter(rumble=True, flags=UNPLUGGED)]),
            adapter(), other(), adapter(flags=UNPLUGGED)]),
        1: controller(2, [adapter()]),
        3: controller(2, []),
    }
    write('usb_replies', 'rich_machine', machine(rich))
    write('usb_replies', 'rich_machine_failing_from_60', machine(rich, failure(60, True)))
    write('usb_replies', 'rich_machine_failing_once_25', machine(rich, failure(25, False)))

    chain = adapter(rumble=True)
    for _ in range(12):
        chain = external_hub(2, [empty_port(), chain])
    write('usb_replies', 'hub_chain_12_deep', machine({2: controller(1, [chain])}))

    long_key = query(text=b'{36FC9E60-C465-11CF-8056-444553540000}\\' + b'9' * 170)
    write('usb_replies', 'keys_at_their_room', machine({0: controller(
        3, [adapter(key=query(text=b'K' * 199)), adapter(key=query(text=b'K' * 200)),
            adapter(key=query(text=b'K' * 198, unterminated=True))], key=long_key)}))
    write('usb_replies', 'odd_actual_lengths', machine({0: controller(
        4, [adapter(key=query(actual=0)), adapter(key=query(actual=11)),
            adapter(key=query(actual=4096)), adapter(key=query(unterminated=True, actual=12))]),
        1: controller(1, [adapter()], root_name=query(actual=7))}))
    write('usb_replies', 'wide_and_failing_strings', machine({0: controller(
        3, [adapter(key=query(wide=[0x4E2D, 0x6587, 0x20AC, 0xD800, 0x41])),
            adapter(key=query(fails=True)),
            external_hub(2, [adapter()], name=query(text=b'N' * 300))],
        key=query(fails=True))}))
    write('usb_replies', 'refusing_hubs_and_ports', machine({0: controller(
        4, [external_hub(2, [adapter()], hub_bits=1), external_hub(2, [adapter()], hub_bits=2),
            adapter(flags=CONNECTION_FAILS), adapter(status=0), adapter(outside_tree=True)])}))
    wide_hub = [adapter() if port % 17 == 0 else empty_port() for port in range(1, 256)]
    write('usb_replies', 'hub_of_255_ports', machine({0: controller(1, [
        external_hub(255, wide_hub)])}))
    write('usb_replies', 'ten_controllers', machine(
        {n: controller(2, [adapter(), empty_port()]) for n in range(10)}))


# ---- device_tree -------------------------------------------------------------------------------
PREFIX_USB, PREFIX_HID, PREFIX_USB_LOWER, PREFIX_HID_LOWER, PREFIX_ROOT_HUB, PREFIX_NONE = range(6)
REMOVE, PARENT_MODE, CUT_LIST, PARENT_LOOKUPS_FAIL, FULL_LIST = 1, 2, 4, 8, 16
PHANTOM, HAS_KEY, HAS_DESCRIPTION = 1, 2, 4


def instance_id(prefix, rest, insertions=()):
    out = bytes([prefix]) + word(len(rest)) + rest + bytes([len(insertions)])
    for piece, at in insertions:
        out += bytes([piece]) + word(at)
    return out


def node(parent, prefix, rest, key=None, description=None, phantom=False):
    bits = (PHANTOM if phantom else 0) | (HAS_KEY if key is not None else 0) \
        | (HAS_DESCRIPTION if description is not None else 0)
    out = bytes([bits, parent]) + instance_id(prefix, rest)
    if key is not None:
        out += word(len(key)) + key
    if description is not None:
        out += word(len(description)) + description
    return out


def entry(first, is_hub, node_index, path, driver_key=b'', parent_key=b''):
    out = b'' if first else bytes([1 if is_hub else 0])
    out += bytes([node_index, 1 if node_index else 0])
    return out + bytes([len(path)]) + path + bytes([len(driver_key)]) + driver_key \
        + bytes([len(parent_key)]) + parent_key


def tree(bits, nodes, entries, listed=(), cut=None, fail_from=None, plan=no_failure()):
    out = plan + bytes([bits, len(nodes)]) + b''.join(nodes) + bytes([len(listed)])
    out += b''.join(listed)
    if bits & CUT_LIST:
        out += bytes([cut or 0])
    out += bytes([len(entries)]) + b''.join(entries)
    if bits & PARENT_LOOKUPS_FAIL:
        out += bytes([fail_from or 0])
    return out


def device_tree_seeds():
    # Nodes are numbered from 1 (0 is the root) in the order given.
    hub_tree = [
        node(0, PREFIX_NONE, b'PCI\\VEN_8086&DEV_2934\\3&1&0&E8', key=b'{usb}\\0000'),
        node(1, PREFIX_ROOT_HUB, b'4&2F9B0B6E&0', key=b'{usb}\\0001', description=b'USB Root Hub'),
        node(2, PREFIX_USB, b'5&1F2E3D4C&0&2', key=b'{hid}\\0000', description=b'Quorvale'),
        node(3, PREFIX_HID, b'6&2A3B4C5D&0&0000', key=b'{hid}\\0001'),
        node(2, PREFIX_USB, b'5&1F2E3D4C&0&4', description=b'Quorvale (rumble)', phantom=True),
        node(2, PREFIX_USB, b'3USB&ROOT_HUB&4&2F9B0B6E&0', description=b'Quorvale', phantom=True),
    ]
    entries = [entry(True, True, 2, b'A', b'@{usb}\\0000'),
               entry(False, False, 3, b'A2', b'{hid}\\0000', b'@{usb}\\0000')]
    write('device_tree', 'configured_and_plugged', tree(0, hub_tree, entries))
    write('device_tree', 'remove_mode', tree(REMOVE, hub_tree, entries))
    write('device_tree', 'parent_mode_cut_list', tree(PARENT_MODE | CUT_LIST, hub_tree, entries,
                                                       cut=2))
    write('device_tree', 'parent_lookups_fail', tree(PARENT_LOOKUPS_FAIL, hub_tree, entries,
                                                     fail_from=2))
    write('device_tree', 'full_list', tree(FULL_LIST, hub_tree, entries))
    # The same table without nodes: the resolution gives them by the keys.
    unresolved = [entry(True, True, 0, b'A', b'@{usb}\\0000'),
                  entry(False, False, 0, b'A2', b'{hid}\\0000', b'@{usb}\\0000')]
    write('device_tree', 'resolved_by_keys', tree(0, hub_tree, unresolved))
    write('device_tree', 'resolved_by_parent_keys', tree(PARENT_MODE, hub_tree, unresolved))
    write('device_tree', 'failing_call_12', tree(0, hub_tree, entries, plan=failure(12, False)))

    many_usb = b'7' + b'&USB&VID_0E1C&PID_0001&5' * 20
    write('device_tree', 'many_inner_usb', tree(0, [
        node(0, PREFIX_USB, many_usb, phantom=True),
        node(0, PREFIX_USB_LOWER, b'USB&USB&USB&', phantom=True)], [entry(True, True, 0, b'A')]))
    write('device_tree', 'ids_at_the_working_copy', tree(0, [
        node(0, PREFIX_USB, b'X' * (499 - 22) , phantom=True),
        node(0, PREFIX_USB, b'Y' * (500 - 22), phantom=True),
        node(0, PREFIX_HID_LOWER, b'Z' * 600, phantom=True)], [entry(True, True, 0, b'A')]))
    write('device_tree', 'properties_at_their_room', tree(0, [
        node(0, PREFIX_USB, b'1', key=b'k' * 511, description=b'Quorvale (' + b'd' * 501),
        node(0, PREFIX_USB, b'2', key=b'k' * 512, description=b'd' * 512)],
        [entry(True, True, 1, b'A', b'k' * 199)]))
    write('device_tree', 'listed_without_nodes', tree(0, [], [entry(True, True, 0, b'A')], listed=[
        instance_id(PREFIX_USB, b'5&1&0&2'), instance_id(PREFIX_HID, b'')]))


# ---- inf_head ----------------------------------------------------------------------------------
def inf_seeds():
    maker = (b'[Version]\r\nSignature="$Windows NT$"\r\nProvider=%Zelk%\r\nClass=HIDClass\r\n'
             b'DriverVer=12/01/2026,1.2.78\r\n')
    write('inf_head', 'maker_copy', maker)
    write('inf_head', 'other_provider', maker.replace(b'%Zelk%', b'%Other%'))
    write('inf_head', 'empty', b'')
    write('inf_head', 'token_across_480', b';' * 470 + b'Provider=%Zelk%\r\n')
    write('inf_head', 'token_ending_at_480', b';' * 465 + b'Provider=%Zelk%\r\n')
    write('inf_head', 'token_after_a_zero', b'[Version]\r\n\0Provider=%Zelk%\r\n')
    write('inf_head', 'token_cut_short', b'[Version]\r\nProvider=%Zelk')
    write('inf_head', 'unicode_copy', '[Version]\r\nProvider=%Zelk%\r\n'.encode('utf-16'))


if __name__ == '__main__':
    usb_seeds()
    device_tree_seeds()
    inf_seeds()
