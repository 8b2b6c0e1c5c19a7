-- The central server of the import tests, loaded after the two schema files. Library 2 is the one
-- exported; library 7's record and item must stay out of its file.
--
-- What library 2's file brings (window 1900..2100, so everything of the library qualifies):
--   records 1 'L', 2 'R' (holding 1), 3 'A' on holding 1, 4 'A' on holding 9 (not in the file: the
--   merge drops it with its tag and index word), 5 'L', 6 'L' in status MON, and the marker record
--   (idficha 9, above every live record);
--   items 31..37: L2-0001, L2-0002, L2-0003 (accesible 9), R2-0001, L2-0005, L2-0006 (accompanying
--   material), T2-0001 (a thesis, accesible 12, collection 3);
--   distribution rows of L2-0001, L2-0002, L2-0003 and L2-0005 (its school disagrees with the item's),
--   none received by the library yet; schools 1 and 2, library 2 (renamed here).
-- Counts after the merge on the library: records "Libros (3). Revistas (1). Analíticas (1)." (1, 5, 6;
-- 2; 3), items "Libros (5). Revistas (1)." (L2-0006 is accompanying material, the marker's are left out).

INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre, nombrecorto, director, telefono, correo) VALUES
    (2, 'Biblioteca Central Universitaria', 'BCU', 'Laura Méndez', '555-0102', 'bcu@example.org'),
    (7, 'Biblioteca Sur', 'Sur', 'Marta Ríos', '555-0107', 'sur@example.org');

INSERT INTO catalogos.escuelas (idescuela, nombre, nombrecorto, idbiblioteca) VALUES
    (1, 'Facultad de Letras', 'FL', 2),
    (2, 'Facultad de Ciencias', 'FC', 2),
    (3, 'Preparatoria Sur', 'PS', 7);

INSERT INTO catalogos.colecciones (idcoleccion, nombre) VALUES (1, 'General'), (2, 'Consulta'), (3, 'Tesis');

INSERT INTO catalogos.autoridades (idautoridad, autoridad) VALUES
    (1, 'Cervantes Saavedra, Miguel de'), (2, 'Rulfo, Juan'), (3, 'Paz, Octavio');
INSERT INTO catalogos.referencias (idreferencia, referencia) VALUES
    (1, 'Literatura española'), (4, 'Novela mexicana');

INSERT INTO analisis.fichas (idficha, ficha_no, idbiblioteca, idtipomaterial, tipoficha, estatus, idholding, titulo,
                             autor, clasificacion, editorial, isbn, fechacaptura) VALUES
    (1, 101, 2, 1, 'L', 'CAP', NULL, 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419',
     'Cátedra', '978-84-376-0494-7', '2023-05-10 12:00'),
    (2, 102, 2, 2, 'R', 'CAP', NULL, 'Revista de Letras', NULL, '050 R45', 'UNAM', NULL, '2023-06-01 09:00'),
    (3, 103, 2, 2, 'A', 'CAP', 1, 'Artículo sobre Rulfo', 'Pérez, Ana', NULL, NULL, NULL, '2023-06-02 09:00'),
    (4, 104, 2, 2, 'A', 'CAP', 9, 'Artículo sin fascículo', 'Gómez, Luis', NULL, NULL, NULL, '2023-06-03 09:00'),
    (5, 105, 2, 1, 'L', 'CAP', NULL, 'Pedro Páramo', 'Rulfo, Juan', '863 R935', 'FCE', NULL, '2024-03-10 12:00'),
    (6, 106, 2, 1, 'L', 'MON', NULL, 'Tesis de licenciatura en letras', 'Ruiz, Eva', '378 R85', NULL, NULL,
     '2024-03-12 12:00'),
    (7, 701, 7, 1, 'L', 'CAP', NULL, 'El laberinto de la soledad', 'Paz, Octavio', '860 P34', 'FCE', NULL,
     '2024-01-01 10:00'),
    (8, 108, 2, 1, 'L', 'NEW', NULL, 'Borrador', 'Anónimo', NULL, NULL, NULL, '2024-03-01 10:00');
SELECT setval('analisis.fichas_idficha_seq', 8);

INSERT INTO analisis.holdings (idholding, idficha) VALUES (1, 2), (2, 7);
SELECT setval('analisis.holdings_idholding_seq', 2);

INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, idescuela, idcoleccion,
                                 idholding, fechaingreso, volumen, ejemplar, tomo, accesible, esmatcomp, analista) VALUES
    (31, 1, 101, 'L2-0001', 2, 1, 1, NULL, '2023-05-11 10:00', 1, 1, NULL, 1, false, 'ana'),
    (32, 1, 101, 'L2-0002', 2, 1, 1, NULL, '2023-05-11 10:00', 1, 2, NULL, 1, false, 'ana'),
    (33, 1, 101, 'L2-0003', 2, 1, 2, NULL, '2023-05-12 10:00', 1, 3, NULL, 9, false, 'ana'),
    (34, 2, 102, 'R2-0001', 2, 2, 1, 1, '2023-06-01 10:00', 3, 1, NULL, 1, false, 'luis'),
    (35, 5, 105, 'L2-0005', 2, 2, 1, NULL, '2024-03-10 12:00', NULL, 1, NULL, 1, false, 'luis'),
    (36, 5, 105, 'L2-0006', 2, 2, 1, NULL, '2024-03-11 12:00', NULL, 1, NULL, 1, true, 'luis'),
    (37, 6, 106, 'T2-0001', 2, 1, 3, NULL, '2024-03-12 12:00', NULL, 1, NULL, 12, false, 'eva'),
    (38, 7, 701, 'S7-0001', 7, 3, 1, NULL, '2024-01-02 10:00', NULL, 1, NULL, 1, false, 'rosa'),
    (39, 8, 108, 'L2-0008', 2, 1, 1, NULL, '2024-03-01 10:00', NULL, 1, NULL, 1, false, 'ana');
SELECT setval('analisis.ejemplares_idejemplar_seq', 39);

INSERT INTO analisis.enviosdpi (idenviodpi, fechaenvio) VALUES (1, '2023-05-15 09:00'), (2, '2024-01-03 09:00');
SELECT setval('analisis.enviosdpi_idenviodpi_seq', 2);
INSERT INTO analisis.recepcionesdpi (idrecepciondpi, fecharecepcion) VALUES (1, '2023-05-16 09:00'), (2, '2024-01-04 09:00');
SELECT setval('analisis.recepcionesdpi_idrecepciondpi_seq', 2);

INSERT INTO analisis.ejemplaresdetallesdpi (iddetalledpi, idficha, numadqui, idbiblioteca, idescuela, idenviodpi,
                                            idrecepciondpi, idrecepcionbib, fecharecepcionbib) VALUES
    (1, 1, 'L2-0001', 2, 1, 1, 1, NULL, NULL),
    (2, 1, 'L2-0002', 2, 1, 1, 1, NULL, NULL),
    (3, 1, 'L2-0003', 2, 2, 1, 1, NULL, NULL),
    (4, 5, 'L2-0005', 2, 1, 1, 1, NULL, NULL),
    (5, 7, 'S7-0001', 7, 3, 2, 2, NULL, NULL);
SELECT setval('analisis.ejemplaresdetallesdpi_iddetalledpi_seq', 5);

-- References are written "@@" + table code + id + "!"; tags 0-99, 261-399 and 500-599 get linked.
INSERT INTO analisis.etiquetasmarc (idregistro, idficha, numetiqueta, subcampo, jerarquia, posicion, contenido) VALUES
    (1, 1, 90, 'a', 1, 1, '@@AU1!'),
    (2, 1, 245, 'a', 1, 1, 'Don Quijote de la Mancha'),
    (3, 2, 245, 'a', 1, 1, 'Revista de Letras'),
    (4, 3, 520, 'a', 1, 1, 'Resumen: @@AU2!'),
    (5, 4, 245, 'a', 1, 1, 'Artículo sin fascículo'),
    (6, 5, 590, 'a', 1, 1, '@@RE4!'),
    (7, 5, 245, 'a', 1, 1, 'Pedro Páramo'),
    (8, 6, 245, 'a', 1, 1, 'Tesis de licenciatura en letras'),
    (9, 7, 245, 'a', 1, 1, 'El laberinto de la soledad'),
    (10, 7, 90, 'a', 1, 1, '@@AU3!');
SELECT setval('analisis.etiquetasmarc_idregistro_seq', 10);

INSERT INTO indizados.palabras (idpalabra, idficha, idbiblioteca, palabra) VALUES
    (1, 1, 2, 'quijote'), (2, 4, 2, 'fasciculo'), (3, 5, 2, 'paramo'), (4, 7, 7, 'laberinto');
SELECT setval('indizados.palabras_idpalabra_seq', 4);
