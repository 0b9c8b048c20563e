"""Records as Python classes: built from each record's field list, checked on the way in."""

import copy
import pickle

import numpy as np
import pytest

import quil

RECORDS = [cls for cls in vars(quil).values() if isinstance(cls, type) and hasattr(cls, "_fields")]


def test_every_record_of_the_library_is_bound():
    assert len(RECORDS) == 47


@pytest.mark.parametrize("cls", RECORDS, ids=lambda c: c.__name__)
def test_defaults_round_trip_through_dict_repr_copy_and_pickle(cls):
    record = cls()
    assert cls.from_dict(record.to_dict()) == record
    assert list(record.to_dict()) == list(cls._fields)
    assert repr(record).startswith(cls.__name__ + "(" + cls._fields[0] + "=")
    assert copy.deepcopy(record) == record
    assert pickle.loads(pickle.dumps(record)) == record


@pytest.mark.parametrize(
    "cls, fields",
    [
        (quil.FoV, dict(limitLeft=-10.5, limitRight=10.5, offset=1.0, height=40.0)),
        (quil.Timeserver, dict(useNTP=True, ntpServers=["a", "b"])),
        (quil.UDPStreamData, dict(enabledDataIDs=[1, 3])),
        (quil.ProfileAlgorithmParamsLimits,
         dict(algorithmID=2, limits=dict(minPeakHeight=dict(min=1, max=9),
                                         thresholdType=[dict(typeID=1, typeName="fixed")]))),
        (quil.StreamError, dict(blockId=7, type=quil.PacketErrorType.FragmentTimeout,
                                message="late")),
        (quil.Profile, dict(xStart=-5, xValues=np.array([1, -2], dtype=np.int32), zValues=[3, 4])),
    ],
)
def test_keyword_construction_equality_and_dict(cls, fields):
    record = cls(**fields)
    again = cls.from_dict(record.to_dict())
    assert again == record
    assert (again != cls()) and not (again == cls())
    for key, value in fields.items():
        assert key in repr(record)
        if not isinstance(value, dict) and not (isinstance(value, list) and value
                                                and isinstance(value[0], dict)):
            assert np.array_equal(getattr(record, key), value)


def test_nested_records_and_enums_come_back_as_their_classes():
    limits = quil.ProfileAlgorithmParamsLimits(limits={"thresholdType": [{"typeID": 4}]})
    assert isinstance(limits.limits, quil.ProfileAlgorithmLimits)
    assert limits.limits.thresholdType[0] == quil.ThresholdTypeEntry(typeID=4)
    error = quil.StreamError(type=2)
    assert error.type is quil.PacketErrorType.DuplicateBlockId
    assert quil.StreamError.from_dict(error.to_dict()).type is quil.PacketErrorType.DuplicateBlockId


@pytest.mark.parametrize(
    "make, error, text",
    [
        (lambda: quil.FoV(height="high"), TypeError, "FoV.height: expected float, got str"),
        (lambda: quil.Trigger(triggerMode=1.5), TypeError, "Trigger.triggerMode: expected int"),
        (lambda: quil.Trigger(triggerMode=True), TypeError, "Trigger.triggerMode"),
        (lambda: quil.Network(staticIP=5), TypeError, "Network.staticIP: expected str, got int"),
        (lambda: quil.FoV(width=3), TypeError, "FoV has no field 'width'"),
        (lambda: quil.Trigger(triggerMode=-1), OverflowError, "-1 is out of range (0 to 4294967295)"),
        (lambda: quil.Trigger(triggerTime=2**32), OverflowError, "out of range"),
        (lambda: quil.Profile(xStart=2**31), OverflowError, "out of range"),
        (lambda: quil.StreamProfile(channel0=[70000]), OverflowError, "out of range (0 to 65535)"),
        (lambda: quil.StreamProfile(channel0=np.array([1.5])), TypeError, "StreamProfile.channel0"),
        (lambda: quil.StreamError(type=6), ValueError, "6 is not a valid PacketErrorType"),
        (lambda: quil.FoV.from_dict({"limitLeft": 1.0}), KeyError, "Field limitRight missing in FoV."),
    ],
)
def test_wrong_values_are_refused_naming_the_field(make, error, text):
    with pytest.raises(error) as raised:
        make()
    assert text in str(raised.value)


def test_missing_dict_key_is_the_packages_key_error():
    with pytest.raises(quil.MissingError):
        quil.Resolution.from_dict({"xResolution": 1})


def test_samples_are_numpy_arrays_of_the_members_type():
    profile = quil.StreamProfile(channel0=np.arange(5, dtype=np.uint16))
    assert profile.channel0.dtype == np.uint16
    assert quil.Profile(zValues=[1]).zValues.dtype == np.int32
    assert quil.Image(pixels=[1, 2]).pixels.dtype == np.uint8
    image = quil.Image(roiHeight=4, roiWidth=6, rowBinning=2, colBinning=2,
                       pixels=np.arange(6, dtype=np.uint8))
    assert image.to_array().shape == (2, 3)
    with pytest.raises(ValueError, match="Image of 6 pixels is not 3 rows of 3."):
        quil.Image(roiHeight=3, roiWidth=3, rowBinning=1, colBinning=1, pixels=[0] * 6).to_array()
