-- Template of the reel unit's preset database.
-- The build turns this script into Torvex_Source.mdb (an SQLite database).
-- Source_DEFS holds the variable-name patterns of both HMI naming schemes per part;
-- Source_PRESET_DEFS holds one row per preset of one machine.
BEGIN;
CREATE TABLE Source_DEFS (
    ID INTEGER,
    System TEXT(20),
    Part INTEGER,
    Var_Name TEXT(255)
);
-- part 1: reel unit, parts 2-5: bobbins 1-4, part 6: bobbin changer
INSERT INTO Source_DEFS (ID, System, Part, Var_Name) VALUES
    (1, 'VISIWIN32', 1, '###machine_Reel_###Var_Name'),
    (2, 'VISIWINSTUDIO', 1, '###machine.Reel.###Var_Name'),
    (3, 'VISIWIN32', 2, '###machine_Bob1_###Var_Name'),
    (4, 'VISIWINSTUDIO', 2, '###machine.Reel.Bobbin1.###Var_Name'),
    (5, 'VISIWIN32', 3, '###machine_Bob2_###Var_Name'),
    (6, 'VISIWINSTUDIO', 3, '###machine.Reel.Bobbin2.###Var_Name'),
    (7, 'VISIWIN32', 4, '###machine_Bob3_###Var_Name'),
    (8, 'VISIWINSTUDIO', 4, '###machine.Reel.Bobbin3.###Var_Name'),
    (9, 'VISIWIN32', 5, '###machine_Bob4_###Var_Name'),
    (10, 'VISIWINSTUDIO', 5, '###machine.Reel.Bobbin4.###Var_Name'),
    (11, 'VISIWIN32', 6, '###machine_Changer_###Var_Name'),
    (12, 'VISIWINSTUDIO', 6, '###machine.Reel.Changer.###Var_Name');

CREATE TABLE Source_PRESET_DEFS (
    ID INTEGER,
    machine_type TEXT(50),
    type INTEGER,
    part INTEGER,
    var_name TEXT(255),
    category_id INTEGER,
    isBitArray BOOLEAN INTEGER,
    offset_or_bitno INTEGER,
    text TEXT(255),
    page_name TEXT(50),
    abs_min DOUBLE,
    abs_max DOUBLE,
    min DOUBLE,
    max DOUBLE,
    pass INTEGER
);
INSERT INTO Source_PRESET_DEFS (ID, machine_type, type, part, var_name, category_id, isBitArray,
                                offset_or_bitno, text, page_name, abs_min, abs_max, min, max, pass) VALUES
    (10, 'REEL', 1, 1, 'LineSpeed', 10, 0, 0, 'Line speed of ###machine [m/min]', 'Reel', 0, 600, 50, 450, 1),
    (20, 'REEL', 1, 1, 'Acceleration', 10, 0, 2, 'Reel acceleration [m/s²]', 'Reel', 0.1, 5, 0.5, 2.5, 1),
    (30, 'REEL', 1, 1, 'SpliceSpeed', 10, 0, 4, 'Splice speed [m/min]', 'Reel', 0, 200, 20, 120, 1),
    (40, 'REEL', 3, 1, 'WebBreakDetect', 20, 1, 0, 'Web break detection on', 'Reel', 0, 1, 0, 1, 2),
    (50, 'REEL', 1, 2, 'Tension', 11, 0, 0, 'Bobbin 1: web tension [N]', 'Bobbin 1', 0, 400, 20, 250, 1),
    (60, 'REEL', 1, 2, 'TensionArmPos', 11, 0, 2, 'Bobbin 1: tension arm position [%]', 'Bobbin 1', 0, 100, 10, 90, 1),
    (70, 'REEL', 1, 2, 'SplicePosition', 12, 0, 4, 'Bobbin 1: splice position [mm]', 'Bobbin 1', -500, 500, -200, 200, 2),
    (80, 'REEL', 1, 2, 'BlankLength', 12, 0, 6, 'Bobbin 1: blank length [mm]', 'Bobbin 1', 10, 2000, 100, 1200, 2),
    (90, 'REEL', 1, 2, 'UnwindSpeed', 10, 0, 8, 'Bobbin 1: unwind speed [m/min]', 'Bobbin 1', 0, 600, 0, 450, 1),
    (100, 'REEL', 1, 2, 'DiameterMin', 13, 0, 10, 'Bobbin 1: minimum diameter [mm]', 'Bobbin 1', 60, 1000, 80, 150, 3),
    (110, 'REEL', 3, 2, 'BrakeActive', 13, 1, 1, 'Bobbin 1: brake active', 'Bobbin 1', 0, 1, 0, 1, 3),
    (120, 'REEL', 1, 3, 'Tension', 11, 0, 0, 'Bobbin 2: web tension [N]', 'Bobbin 2', 0, 400, 20, 250, 1),
    (130, 'REEL', 1, 3, 'TensionArmPos', 11, 0, 2, 'Bobbin 2: tension arm position [%]', 'Bobbin 2', 0, 100, 10, 90, 1),
    (140, 'REEL', 1, 3, 'SplicePosition', 12, 0, 4, 'Bobbin 2: splice position [mm]', 'Bobbin 2', -500, 500, -200, 200, 2),
    (150, 'REEL', 1, 3, 'BlankLength', 12, 0, 6, 'Bobbin 2: blank length [mm]', 'Bobbin 2', 10, 2000, 100, 1200, 2),
    (160, 'REEL', 1, 3, 'UnwindSpeed', 10, 0, 8, 'Bobbin 2: unwind speed [m/min]', 'Bobbin 2', 0, 600, 0, 450, 1),
    (170, 'REEL', 1, 3, 'DiameterMin', 13, 0, 10, 'Bobbin 2: minimum diameter [mm]', 'Bobbin 2', 60, 1000, 80, 150, 3),
    (180, 'REEL', 3, 3, 'BrakeActive', 13, 1, 2, 'Bobbin 2: brake active', 'Bobbin 2', 0, 1, 0, 1, 3),
    (190, 'REEL', 1, 4, 'Tension', 11, 0, 0, 'Bobbin 3: web tension [N]', 'Bobbin 3', 0, 400, 20, 250, 1),
    (200, 'REEL', 1, 4, 'TensionArmPos', 11, 0, 2, 'Bobbin 3: tension arm position [%]', 'Bobbin 3', 0, 100, 10, 90, 1),
    (210, 'REEL', 1, 4, 'SplicePosition', 12, 0, 4, 'Bobbin 3: splice position [mm]', 'Bobbin 3', -500, 500, -200, 200, 2),
    (220, 'REEL', 1, 4, 'BlankLength', 12, 0, 6, 'Bobbin 3: blank length [mm]', 'Bobbin 3', 10, 2000, 100, 1200, 2),
    (230, 'REEL', 1, 4, 'UnwindSpeed', 10, 0, 8, 'Bobbin 3: unwind speed [m/min]', 'Bobbin 3', 0, 600, 0, 450, 1),
    (240, 'REEL', 1, 4, 'DiameterMin', 13, 0, 10, 'Bobbin 3: minimum diameter [mm]', 'Bobbin 3', 60, 1000, 80, 150, 3),
    (250, 'REEL', 3, 4, 'BrakeActive', 13, 1, 3, 'Bobbin 3: brake active', 'Bobbin 3', 0, 1, 0, 1, 3),
    (260, 'REEL', 1, 5, 'Tension', 11, 0, 0, 'Bobbin 4: web tension [N]', 'Bobbin 4', 0, 400, 20, 250, 1),
    (270, 'REEL', 1, 5, 'TensionArmPos', 11, 0, 2, 'Bobbin 4: tension arm position [%]', 'Bobbin 4', 0, 100, 10, 90, 1),
    (280, 'REEL', 1, 5, 'SplicePosition', 12, 0, 4, 'Bobbin 4: splice position [mm]', 'Bobbin 4', -500, 500, -200, 200, 2),
    (290, 'REEL', 1, 5, 'BlankLength', 12, 0, 6, 'Bobbin 4: blank length [mm]', 'Bobbin 4', 10, 2000, 100, 1200, 2),
    (300, 'REEL', 1, 5, 'UnwindSpeed', 10, 0, 8, 'Bobbin 4: unwind speed [m/min]', 'Bobbin 4', 0, 600, 0, 450, 1),
    (310, 'REEL', 1, 5, 'DiameterMin', 13, 0, 10, 'Bobbin 4: minimum diameter [mm]', 'Bobbin 4', 60, 1000, 80, 150, 3),
    (320, 'REEL', 3, 5, 'BrakeActive', 13, 1, 4, 'Bobbin 4: brake active', 'Bobbin 4', 0, 1, 0, 1, 3),
    (330, 'REEL', 1, 6, 'ChangerSpeed', 14, 0, 0, 'Bobbin changer: swivel speed [°/s]', 'Changer', 1, 90, 5, 45, 2),
    (340, 'REEL', 1, 6, 'ChangerDelay', 14, 0, 2, 'Bobbin changer: start delay [ms]', 'Changer', 0, 5000, 100, 1500, 2),
    (350, 'REEL', 3, 6, 'ChangerEnabled', 14, 1, 0, 'Bobbin changer present on ###machine', 'Changer', 0, 1, 0, 1, 3);

-- The work table; rebuilt from Source_PRESET_DEFS on every run.
CREATE TABLE PRESET_DEFS (
    ID INTEGER,
    machine_type TEXT(50),
    type INTEGER,
    part INTEGER,
    var_name TEXT(255),
    category_id INTEGER,
    isBitArray BOOLEAN INTEGER,
    offset_or_bitno INTEGER,
    text TEXT(255),
    page_name TEXT(50),
    abs_min DOUBLE,
    abs_max DOUBLE,
    min DOUBLE,
    max DOUBLE,
    pass INTEGER
);
COMMIT;
