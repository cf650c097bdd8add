"""buslog.Module: finding the module, the exports, their results."""

import os
import sys

import pytest

import buslog
import buslog.module


def test_found_by_path_then_environment(module_path, module_copy, monkeypatch):
    monkeypatch.setenv("BUSLOG_MODULE", module_copy)
    assert buslog.find_module(module_path) == module_path
    assert buslog.find_module() == module_copy
    monkeypatch.setenv("BUSLOG_MODULE", "/no/such/libbuslog.so")
    with pytest.raises(buslog.ModuleLoadError, match="BUSLOG_MODULE='/no/such/libbuslog.so'"):
        buslog.find_module()
    with pytest.raises(buslog.ModuleLoadError, match="given explicitly"):
        buslog.Module("/no/such/libbuslog.so")


def test_installed_module_found_or_places_named(monkeypatch):
    monkeypatch.delenv("BUSLOG_MODULE")
    beside_package = os.path.join(sys.prefix, "lib", "libbuslog.so")
    if os.path.isfile(beside_package):  # python-test.sh installs one there
        assert buslog.find_module() == beside_package
    assert beside_package in buslog.module._installed_candidates()
    assert "/usr/lib/x86_64-linux-gnu/libbuslog.so" in buslog.module._installed_candidates()
    monkeypatch.setattr(buslog.module, "_installed_candidates", lambda: ["/no/such/lib/libbuslog.so"])
    with pytest.raises(buslog.ModuleLoadError) as error:
        buslog.find_module()
    assert "BUSLOG_MODULE not set" in str(error.value)
    assert "/no/such/lib/libbuslog.so" in str(error.value)


def test_not_a_module(tmp_path):
    fake = tmp_path / "libbuslog.so"
    fake.write_bytes(b"not a library")
    with pytest.raises(buslog.ModuleLoadError, match="could not be loaded"):
        buslog.Module(str(fake))


def test_one_line_through_the_exports(module_copy):
    module = buslog.Module(module_copy)
    try:
        assert module.share_mode(True) == 0  # the call carried a value
        module.open("x.log")
        with pytest.raises(buslog.OpenError, match="result 3"):
            module.open("y.log")
        module.put_frame_id(123)
        module.put_time_stamp(1, 234567)
        module.put_frame(0x3031, 4, 0, 0, bytes.fromhex("01 23 02 AA BB"))
        module.put_error(0x1F)
        module.put_string(",text")
        module.write()
        with pytest.raises(ValueError, match="32 bits"):
            module.put_frame_id(1 << 32)
        module.close()
        with pytest.raises(buslog.WriteError, match="no log open"):
            module.write()
        with pytest.raises(buslog.OpenError, match="result 1"):
            module.open("")
        with pytest.raises(buslog.OpenError, match="result 1"):
            module.open("n" * 300)
        with pytest.raises(buslog.OpenError, match="result 2"):
            module.open("missing/x.log")
    finally:
        module.unload()
    with pytest.raises(ValueError, match="unloaded"):
        module.write()
    if os.path.exists("/proc/self/maps"):
        with open("/proc/self/maps") as maps:
            assert module_copy not in maps.read()
    folder = os.path.dirname(module_copy)
    assert sorted(os.listdir(folder)) == [os.path.basename(module_copy), "x.log"]
    with open(os.path.join(folder, "x.log"), "rb") as file:
        assert file.read() == b"000000123,+1.234567,I,CAN     , 1,OK,0,1,23,2,AA,BB,(0:ERR=0000001F),text\r\n"
