"""The state of a track after its last update."""

import enum


class TrackState(enum.IntEnum):
    """What the last update_inputs() or update_outputs() of a track found."""

    OK = 0
    """The card, its network and the station or slave answered."""
    CARD_DOWN = 2
    """The card or its network is down."""
    STATION_DOWN = 3
    """The station, slave, rack or module of the track is not answering."""
